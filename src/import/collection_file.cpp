#include "import/collection_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/text.h"

namespace kiv::import {

namespace {

// Whole units and hundredths are two digit fields; "05" is five hundredths.
Cents amount_from(std::string_view line, std::size_t whole_at, std::size_t whole_len, std::size_t hundredths_at) {
  return numeric_value(cut(line, whole_at, whole_len)) * 100 + numeric_value(cut(line, hundredths_at, 2));
}

// The last `count` bytes of `text`, or all of it when shorter.
std::string_view last_bytes(std::string_view text, std::size_t count) {
  return text.size() <= count ? text : text.substr(text.size() - count);
}

Error file_error(int number, const std::string& path) {
  if (number == 0) number = EIO;  // a failure must never look like success
  return Error{number, path + ": " + std::strerror(number), true};
}

}  // namespace

RecordKind record_kind(std::string_view line) {
  if (line.empty()) return RecordKind::other;
  if (line.front() == '1') return RecordKind::detail;
  if (line.front() == '2') return RecordKind::trailer;
  return RecordKind::other;
}

DetailLine cut_detail(std::string_view line) {
  DetailLine d;

  // The postal service writes the year in three digits once it passed 99;
  // three blanks after a seven-byte date tell the two forms apart.
  const bool seven_byte_date = cut(line, 17, 3) == "   ";
  const std::size_t year_len = seven_byte_date ? 3 : 2;
  const std::string_view date = cut(line, 10, seven_byte_date ? 7 : 6);
  const std::int64_t year = numeric_value(date.substr(0, std::min(year_len, date.size()))) + 1911;
  const std::string_view month = cut(date, year_len + 1, 2);
  const std::string_view day = last_bytes(date, 2);
  d.tran_day = std::to_string(year) + "/" + std::string(month) + "/" + std::string(day);
  d.tran_day_mdy = std::string(cut(d.tran_day, 6, 2)) + "/" + std::string(cut(d.tran_day, 9, 2)) + "/" +
                   std::string(cut(d.tran_day, 1, 4));

  d.amount_cents = detail_amount(line);
  d.amount = amount_text(d.amount_cents);

  d.payer_acct = trim(cut(line, 20, 14));
  d.payer_id = trim(cut(line, 34, 10));
  d.comb_flag = trim(cut(line, 61, 1));
  d.stdid = trim(cut(line, 65, 5));
  d.grpid = trim(cut(line, 70, 2));
  d.fail_code = trim(cut(line, 79, 2));
  return d;
}

Cents detail_amount(std::string_view line) {
  return amount_from(line, 44, 9, 53);
}

bool detail_transfer_failed(std::string_view line) {
  return cut(line, 79, 2).find_first_not_of(' ') != std::string_view::npos;
}

TrailerLine cut_trailer(std::string_view line) {
  TrailerLine t;
  t.file_cnt = numeric_value(cut(line, 20, 7));
  t.file_amt = amount_from(line, 27, 11, 38);
  t.posted_cnt = numeric_value(cut(line, 56, 7));
  t.posted_amt = amount_from(line, 63, 11, 74);
  return t;
}

std::optional<CollectionReader> CollectionReader::open(const std::string& path, Error& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = file_error(errno, path);
    return std::nullopt;
  }
  // A folder opens like a file here; say so now rather than at the first read.
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    const int number = S_ISDIR(info.st_mode) ? EISDIR : errno;
    std::fclose(file);
    error = file_error(number, path);
    return std::nullopt;
  }
  return CollectionReader(file, path);
}

CollectionReader CollectionReader::adopt(std::FILE* file, std::string path) {
  return CollectionReader(file, std::move(path));
}

namespace {
constexpr std::size_t kChunk = 64u << 10;
}  // namespace

CollectionReader::CollectionReader(std::FILE* file, std::string path)
    : file_(file), path_(std::move(path)), chunk_(std::make_unique<char[]>(kChunk)) {}

CollectionReader::CollectionReader(CollectionReader&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      chunk_(std::move(other.chunk_)),
      chunk_begin_(other.chunk_begin_),
      chunk_end_(other.chunk_end_),
      line_(std::move(other.line_)),
      overlong_(other.overlong_),
      line_number_(other.line_number_),
      observer_(std::move(other.observer_)),
      read_error_(other.read_error_),
      failed_(other.failed_),
      error_(std::move(other.error_)) {}

CollectionReader::~CollectionReader() {
  if (file_ != nullptr) std::fclose(file_);
}

// Reads the next chunk. False at the end of the file or on a failure. Bytes
// that came before a read error are still used, but the error is reported at
// the next read, so a line cut short by it never passes for a complete last
// line.
bool CollectionReader::fill() {
  chunk_begin_ = 0;
  chunk_end_ = 0;
  if (read_error_ == 0) {
    errno = 0;
    chunk_end_ = std::fread(chunk_.get(), 1, kChunk, file_);
    if (std::ferror(file_)) read_error_ = errno != 0 ? errno : EIO;
    if (chunk_end_ > 0) {
      if (observer_) observer_(std::string_view(chunk_.get(), chunk_end_));
      return true;
    }
  }
  if (read_error_ != 0) {
    failed_ = true;
    error_ = file_error(read_error_, path_);
  }
  return false;
}

std::optional<std::string_view> CollectionReader::next() {
  if (file_ == nullptr || failed_) return std::nullopt;
  for (;;) {
    line_.clear();
    overlong_ = false;
    bool ended = false;  // by an LF, as against the end of the file
    bool any = false;
    while (!ended) {
      if (chunk_begin_ == chunk_end_ && !fill()) break;
      const char* start = chunk_.get() + chunk_begin_;
      const std::size_t available = chunk_end_ - chunk_begin_;
      const auto* lf = static_cast<const char*>(std::memchr(start, '\n', available));
      const std::size_t take = lf != nullptr ? static_cast<std::size_t>(lf - start) : available;
      const std::size_t room = kLongestLine - std::min(line_.size(), kLongestLine);
      if (take > room) overlong_ = true;
      line_.append(start, std::min(take, room));
      chunk_begin_ += take;
      any = true;
      if (lf != nullptr) {
        ++chunk_begin_;
        ended = true;
      }
    }
    if (failed_ || !any) return std::nullopt;
    ++line_number_;
    std::size_t length = line_.size();
    // A CR before the LF, or before the end of the file, is the line end.
    if (!overlong_ && length > 0 && line_[length - 1] == '\r') --length;
    if (length > kShortLine) return std::string_view(line_.data(), length);
  }
}

}  // namespace kiv::import
