#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/error.h"
#include "core/money.h"

namespace kiv::import {

// Lines of this many bytes or fewer are not records.
inline constexpr std::size_t kShortLine = 10;
// A record is some 80 bytes. A line longer than this is no record at all; the
// reader keeps only this much of it, so that memory stays bounded whatever
// the file holds.
inline constexpr std::size_t kLongestLine = 16u << 20;

enum class RecordKind { detail, trailer, other };

// Kind of a record (a line longer than kShortLine): its first byte.
RecordKind record_kind(std::string_view line);

// A detail line cut into the values the write-offs receive.
struct DetailLine {
  std::string tran_day;      // "yyyy/MM/dd"
  std::string tran_day_mdy;  // "MM/dd/yyyy"
  Cents amount_cents = 0;
  // Text form: "1500.0", "12.05", "12.50".
  std::string amount;
  std::string payer_acct, payer_id, comb_flag, stdid, grpid, fail_code;  // trimmed

  bool transfer_failed() const { return !fail_code.empty(); }
};

struct TrailerLine {
  std::int64_t file_cnt = 0;
  Cents file_amt = 0;
  std::int64_t posted_cnt = 0;
  Cents posted_amt = 0;
};

DetailLine cut_detail(std::string_view line);
// The two detail values the validation pass needs, cut as cut_detail cuts them
// but without building the other fields.
Cents detail_amount(std::string_view line);
bool detail_transfer_failed(std::string_view line);
TrailerLine cut_trailer(std::string_view line);

// Walks a collection file record by record: bytes, line ends at LF with a CR
// before it dropped, short lines skipped, one reused buffer (never the whole
// file in memory). Closes the file in its destructor.
class CollectionReader {
 public:
  // nullopt and `error` filled (errno, path and reason) when the file cannot be opened.
  static std::optional<CollectionReader> open(const std::string& path, Error& error);
  // Takes over an already open stream (closed by the reader); `path` names it in errors.
  static CollectionReader adopt(std::FILE* file, std::string path);

  CollectionReader(CollectionReader&&) noexcept;
  CollectionReader& operator=(CollectionReader&&) = delete;
  CollectionReader(const CollectionReader&) = delete;
  ~CollectionReader();

  // The next record, or nullopt at the end of the file. A read failure ends
  // the walk with `failed()` true and `error()` set. The view lives until the
  // next call.
  std::optional<std::string_view> next();
  // The record last returned was longer than kLongestLine and is cut short.
  bool overlong() const { return overlong_; }
  // The line of the file the record last returned stands on, every line
  // counted (short ones too), 1 for the first.
  std::int64_t line_number() const { return line_number_; }
  // Every byte read from the file goes to `observer` as it is read, once,
  // in order (the file's hash is made that way, without a read of its own).
  void observe_bytes(std::function<void(std::string_view)> observer) { observer_ = std::move(observer); }
  bool failed() const { return failed_; }
  const Error& error() const { return error_; }

 private:
  CollectionReader(std::FILE* file, std::string path);
  std::FILE* file_ = nullptr;
  std::string path_;
  bool fill();
  std::unique_ptr<char[]> chunk_;
  std::size_t chunk_begin_ = 0;
  std::size_t chunk_end_ = 0;
  std::string line_;
  bool overlong_ = false;
  std::int64_t line_number_ = 0;
  std::function<void(std::string_view)> observer_;
  int read_error_ = 0;  // errno of a read error not yet reported
  bool failed_ = false;
  Error error_;
};

inline constexpr const char* kMsgMalformed = "此 資 料 檔 格 式 不 符";
inline constexpr const char* kMsgTotalsDiffer =
    "銷 帳 明 細 與 銷 帳 總 金 額 不 符\r\n\r\n請 檢 查 檔 案 內 容 是 否 正 確";

// The validation pass over a whole file, without the database.
struct Validation {
  enum class Verdict { accepted, malformed, totals_differ };
  Verdict verdict = Verdict::accepted;
  std::int64_t detail_count = 0;         // n: every detail line, whatever its failure code
  Cents credited_sum = 0;                // detail amounts with a blank failure code
  Cents credited_total = 0;              // posted_amt of the last trailer (0 without one)
  bool credited_sum_overflowed = false;  // the sum left int64; it then equals no trailer
  std::optional<TrailerLine> last_trailer;
};

// The validation result, or the Error that kept the file from being read.
// `observer` sees every byte of the file the pass reads.
std::variant<Validation, Error> validate_file(const std::string& path,
                                              std::function<void(std::string_view)> observer = {});
// The same pass over the records an open reader has left.
std::variant<Validation, Error> validate_records(CollectionReader& reader);

}  // namespace kiv::import
