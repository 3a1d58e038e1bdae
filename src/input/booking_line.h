// A booking line of the source file, split into its fields and read through the names of the
// fields' roles. A field the line does not have reads as the empty text.
#pragma once

#include <string>
#include <vector>

namespace zarvelt {

class BookingLine {
 public:
  BookingLine() = default;
  explicit BookingLine(std::vector<std::string> fields) : fields_(std::move(fields)) {}

  int field_count() const { return static_cast<int>(fields_.size()); }
  bool empty() const { return fields_.empty(); }
  const std::vector<std::string>& fields() const { return fields_; }

  const std::string& badge() const { return field(kBadge); }
  const std::string& date() const { return field(kDate); }  // yyyymmdd
  const std::string& time() const { return field(kTime); }  // hhmm or hhmmss
  const std::string& terminal() const { return field(kTerminal); }
  const std::string& reader_number() const { return field(kReaderNumber); }
  const std::string& function_code() const { return field(kFunctionCode); }
  // Field 8 is the free text of a time booking and the cost centre of a cost-centre booking.
  const std::string& text() const { return field(kTextOrCostCentre); }
  const std::string& cost_centre() const { return field(kTextOrCostCentre); }
  const std::string& time_booking_mark() const { return field(kTimeBookingMark); }
  const std::string& access_result() const { return field(kAccessResult); }
  const std::string& status_number() const { return field(kStatusNumber); }
  const std::string& zone_prefix() const { return field(kZonePrefix); }
  // The key of a "62p" booking's zone lookup: the zone prefix followed by the status number.
  // The read-ahead and the handler ask for the same key.
  std::string zone_key() const { return zone_prefix() + status_number(); }
  const std::string& record_kind() const { return field(kRecordKind); }

  // The fields by their numbers in the line, from 0.
  enum Field : int {
    kBadge = 0,
    kDate = 2,
    kTime = 3,
    kTerminal = 5,
    kReaderNumber = 6,
    kFunctionCode = 7,
    kTextOrCostCentre = 8,
    kTimeBookingMark = 10,
    kAccessResult = 11,
    kStatusNumber = 12,
    kZonePrefix = 13,
    kRecordKind = 15,
  };

  // Removes trailing blanks and tabs from the badge: terminals pad it.
  void trim_badge();

  // The fields the dispatch reads (up to the record kind): a line of the terminal with fewer
  // is faulty.
  static constexpr int kDispatchFieldCount = 16;
  // Seven fields or fewer make a faulty line, whatever its terminal.
  static constexpr int kFewestFields = 8;

 private:
  const std::string& field(int i) const;

  std::vector<std::string> fields_;
};

}  // namespace zarvelt
