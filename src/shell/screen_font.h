#pragma once

class QApplication;

namespace kiv::shell {

// Traditional Chinese glyphs for every window and box of the program.
void use_traditional_chinese_font(QApplication& app);

}  // namespace kiv::shell
