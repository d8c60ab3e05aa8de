#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "shell/main_window.h"

namespace kiv::shell {

namespace {

template <class Control>
Control* named(Control* control, const char* name) {
  control->setObjectName(QString::fromLatin1(name));
  return control;
}

// Captions never carry markup; "&" or "<" in them stays as typed.
QLabel* caption_label(const char* name, const QString& text, QWidget* parent) {
  auto* label = named(new QLabel(text, parent), name);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// The figures of a run: right-aligned in a single-line box.
QLabel* value_label(const char* name, QWidget* parent) {
  QLabel* label = caption_label(name, QString(), parent);
  label->setFrameStyle(QFrame::Box | QFrame::Plain);
  label->setLineWidth(1);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("999,999,999,999")) + 12);
  return label;
}

}  // namespace

void KIV2700F1::build_controls() {
  auto* window_layout = new QVBoxLayout(this);
  fra_00_ = named(new QGroupBox(QStringLiteral("程式代號 KIV 2700"), this), "fra_00");
  window_layout->addWidget(fra_00_);
  auto* outer = new QVBoxLayout(fra_00_);
  outer->setSpacing(10);

  // Program name and title.
  auto* title_row = new QHBoxLayout;
  lbl_00_ = caption_label("lbl_00", QStringLiteral("程式名稱"), fra_00_);
  lbl_01_ = caption_label("lbl_01", QStringLiteral("轉帳銷帳檔案讀入"), fra_00_);
  QFont title_font = lbl_01_->font();
  title_font.setPointSizeF(title_font.pointSizeF() * 1.5);
  title_font.setBold(true);
  lbl_01_->setFont(title_font);
  title_row->addWidget(lbl_00_);
  title_row->addSpacing(12);
  title_row->addWidget(lbl_01_);
  title_row->addStretch();
  outer->addLayout(title_row);

  // The source: the floppy, or the path with its "..." button.
  Frame1_ = named(new QGroupBox(QStringLiteral("請選擇磁碟機代號"), fra_00_), "Frame1");
  auto* source_layout = new QVBoxLayout(Frame1_);
  Opt1_ = named(new QRadioButton(QStringLiteral("A:磁碟機"), Frame1_), "Opt1");
  Opt2_ = named(new QRadioButton(Frame1_), "Opt2");
  source_group_ = new QButtonGroup(this);
  source_group_->setExclusive(true);
  source_group_->addButton(Opt1_);
  source_group_->addButton(Opt2_);
  Opt1_->setChecked(true);
  txt_path_ = named(new QLineEdit(Frame1_), "txt_path");
  txt_path_->setMinimumWidth(360);
  Cmd_showpath_ = named(new QPushButton(QStringLiteral("..."), Frame1_), "Cmd_showpath");
  Cmd_showpath_->setFixedWidth(Cmd_showpath_->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
  source_layout->addWidget(Opt1_);
  auto* path_row = new QHBoxLayout;
  path_row->addWidget(Opt2_);
  path_row->addWidget(txt_path_, 1);
  path_row->addWidget(Cmd_showpath_);
  source_layout->addLayout(path_row);
  outer->addWidget(Frame1_);

  // Figures of the last run in two rows, the progress below them.
  auto* figures = new QGridLayout;
  figures->setHorizontalSpacing(8);
  Label1_ = caption_label("Label1", QStringLiteral("銷帳總筆數"), fra_00_);
  Label3_ = value_label("Label3", fra_00_);
  Label2_ = caption_label("Label2", QStringLiteral("總金額"), fra_00_);
  Label4_ = value_label("Label4", fra_00_);
  Label5_ = caption_label("Label5", QStringLiteral("轉帳成功筆數"), fra_00_);
  Label7_ = value_label("Label7", fra_00_);
  Label9_ = caption_label("Label9", QStringLiteral("轉帳不成功筆數"), fra_00_);
  Label10_ = value_label("Label10", fra_00_);
  figures->addWidget(Label1_, 0, 0);
  figures->addWidget(Label3_, 0, 1);
  figures->addWidget(Label2_, 0, 2);
  figures->addWidget(Label4_, 0, 3);
  figures->addWidget(Label5_, 1, 0);
  figures->addWidget(Label7_, 1, 1);
  figures->addWidget(Label9_, 1, 2);
  figures->addWidget(Label10_, 1, 3);
  figures->setColumnMinimumWidth(2, 16);
  figures->setColumnStretch(1, 1);
  figures->setColumnStretch(3, 1);
  outer->addLayout(figures);

  auto* progress_row = new QHBoxLayout;
  L_cnt_ = caption_label("L_cnt", QString(), fra_00_);
  L_cnt_->setMinimumWidth(L_cnt_->fontMetrics().horizontalAdvance(QStringLiteral("999999 / 999999")) + 8);
  progress_bar_ = named(new QProgressBar(fra_00_), "progress_bar");
  progress_bar_->setTextVisible(false);
  progress_bar_->hide();
  progress_row->addWidget(L_cnt_);
  progress_row->addWidget(progress_bar_, 1);
  outer->addLayout(progress_row);

  // The two buttons.
  fra_04_ = named(new QGroupBox(fra_00_), "fra_04");
  auto* buttons = new QHBoxLayout(fra_04_);
  cmd_confirm_ = named(new QPushButton(QStringLiteral("確認 S"), fra_04_), "cmd_confirm");
  cmd_exit_ = named(new QPushButton(QStringLiteral("離開 E"), fra_04_), "cmd_exit");
  for (QPushButton* button : {cmd_confirm_, cmd_exit_}) {
    button->setMinimumSize(110, 36);
    button->setAutoDefault(false);
  }
  buttons->addStretch();
  buttons->addWidget(cmd_confirm_);
  buttons->addSpacing(40);
  buttons->addWidget(cmd_exit_);
  buttons->addStretch();
  outer->addWidget(fra_04_);

  lbl_msg_ = caption_label("lbl_msg", QStringLiteral("磁片製作中，請稍後......"), fra_00_);
  lbl_msg_->hide();

  connect(cmd_confirm_, &QPushButton::clicked, this, &KIV2700F1::cmd_confirm_Click);
  connect(cmd_exit_, &QPushButton::clicked, this, &KIV2700F1::cmd_exit_Click);
  connect(Cmd_showpath_, &QPushButton::clicked, this, &KIV2700F1::Cmd_showpath_Click);
}

}  // namespace kiv::shell
