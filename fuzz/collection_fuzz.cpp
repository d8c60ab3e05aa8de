// Arbitrary bytes as a collection file. The reader and the validation pass
// must neither crash nor read out of bounds, and the posting pass's view of
// the records must agree with the validation pass's: the same detail lines,
// the same credited amounts, so that a file accepted is a file posted as
// checked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <variant>

#include "core/money.h"
#include "import/collection_file.h"

namespace {

using kiv::Cents;
using namespace kiv::import;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// The bytes as an open stream; an empty file reads from /dev/null, since
// fmemopen refuses an empty buffer.
std::FILE* open_bytes(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return std::fopen("/dev/null", "rb");
  return fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* first = open_bytes(data, size);
  if (first == nullptr) return 0;
  auto validating = CollectionReader::adopt(first, "fuzz input");
  const auto checked = validate_records(validating);
  if (std::holds_alternative<kiv::Error>(checked)) broken("reading memory failed");
  const Validation& v = std::get<Validation>(checked);

  // The posting pass: every record up to the first trailer, cut in full.
  std::FILE* second = open_bytes(data, size);
  if (second == nullptr) return 0;
  auto posting = CollectionReader::adopt(second, "fuzz input");
  std::int64_t details = 0;
  Cents credited = 0;
  bool overflowed = false;
  while (const auto line = posting.next()) {
    if (line->size() <= kShortLine) broken("a short line came out of the reader");
    const RecordKind kind = record_kind(*line);
    if (kind == RecordKind::other) break;
    if (kind == RecordKind::trailer) {
      const TrailerLine t = cut_trailer(*line);
      if (t.file_amt < 0 || t.posted_amt < 0) broken("a trailer amount below zero");
      break;
    }
    ++details;
    const DetailLine d = cut_detail(*line);
    if (d.amount_cents != detail_amount(*line)) broken("the two passes cut different amounts");
    if (d.transfer_failed() != detail_transfer_failed(*line)) broken("the two passes disagree on a failed transfer");
    if (d.amount_cents < 0) broken("an amount below zero");
    if (kiv::parse_decimal(d.amount) != d.amount_cents) broken("the amount text does not read back");
    if (!d.transfer_failed() && __builtin_add_overflow(credited, d.amount_cents, &credited)) overflowed = true;
  }
  if (posting.failed()) broken("reading memory failed");

  if (v.verdict == Validation::Verdict::accepted) {
    if (details != v.detail_count) broken("an accepted file posts other detail lines than it counted");
    if (overflowed || credited != v.credited_total) broken("an accepted file posts other amounts than it checked");
  }
  return 0;
}
