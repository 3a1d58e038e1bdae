// "zarvelt --help" (or -h, /?) and "zarvelt --version": the only command lines that start no
// transfer.
#pragma once

#include <cstdio>

namespace zarvelt {

// True when the command line is exactly one word, "--help", "-h", "/?" or "--version"; the
// usage or the version has then been printed to console. Every other command line is left to
// the run.
bool answer_help_or_version(int argc, char** argv, std::FILE* console);

}  // namespace zarvelt
