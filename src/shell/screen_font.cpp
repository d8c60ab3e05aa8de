#include "shell/screen_font.h"

#include <QApplication>
#include <QFont>

namespace kiv::shell {

void use_traditional_chinese_font(QApplication& app) {
  QFont font = QApplication::font();
  // The Traditional forms first: the same code points drawn from a
  // Simplified or Japanese font look wrong to the people using the program.
  font.setFamilies({QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Sans TC"),
                    QStringLiteral("Noto Sans CJK HK"), QStringLiteral("AR PL UMing TW")});
  app.setFont(font);
}

}  // namespace kiv::shell
