#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace kiv::shell {

// The most of a log the built-in viewer holds; a longer log is shown up to
// its last whole line within this, followed by a note of its size.
inline constexpr qint64 kLogViewerLimit = qint64{8} * 1024 * 1024;

// The log's text for the screen: UTF-8, CR LF (or a lone CR) as line breaks,
// at most `limit` bytes of it. nullopt, with the system's reason, when the
// file cannot be read.
std::optional<QString> read_log_text(const QString& path, qint64 limit, QString& reason);

// A read-only view of the log in a window of its own, titled with its path,
// in a monospace font so that the copied fixed-width lines stay in columns.
// Not modal: it stays open beside the program's window, which owns it.
QWidget* show_log_viewer(const QString& path, const QString& text, QWidget* parent);

}  // namespace kiv::shell
