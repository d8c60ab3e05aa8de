// The validation pass: nothing touches the database unless the whole file is
// well formed and its credited detail amounts add up to the trailer's.
#include <limits>
#include <string>

#include "import/collection_file.h"

namespace kiv::import {

std::variant<Validation, Error> validate_records(CollectionReader& reader) {
  Validation v;
  bool trailer_seen = false;
  std::string first_trailer;
  while (const auto line = reader.next()) {
    if (reader.overlong()) {
      v.verdict = Validation::Verdict::malformed;
      return v;
    }
    switch (record_kind(*line)) {
      case RecordKind::other:
        v.verdict = Validation::Verdict::malformed;
        return v;
      case RecordKind::detail:
        // Posting stops at the trailer, so a payment after it would count in
        // the totals yet never be posted nor logged: reject the file instead.
        if (trailer_seen) {
          v.verdict = Validation::Verdict::malformed;
          return v;
        }
        ++v.detail_count;
        if (!detail_transfer_failed(*line) && !v.credited_sum_overflowed &&
            __builtin_add_overflow(v.credited_sum, detail_amount(*line), &v.credited_sum)) {
          v.credited_sum_overflowed = true;
          v.credited_sum = std::numeric_limits<Cents>::max();
        }
        break;
      case RecordKind::trailer:
        // The summary shows the first trailer and the totals are checked
        // against the last: a file whose trailers disagree says two things
        // about its own totals, and neither can be trusted.
        if (!trailer_seen) {
          first_trailer.assign(*line);
        } else if (*line != first_trailer) {
          v.verdict = Validation::Verdict::malformed;
          return v;
        }
        trailer_seen = true;
        v.last_trailer = cut_trailer(*line);
        v.credited_total = v.last_trailer->posted_amt;
        break;
    }
  }
  if (reader.failed()) return reader.error();
  if (v.credited_sum_overflowed || v.credited_sum != v.credited_total) {
    v.verdict = Validation::Verdict::totals_differ;
  }
  return v;
}

std::variant<Validation, Error> validate_file(const std::string& path, std::function<void(std::string_view)> observer) {
  Error error;
  auto reader = CollectionReader::open(path, error);
  if (!reader) return error;
  reader->observe_bytes(std::move(observer));
  return validate_records(*reader);
}

}  // namespace kiv::import
