#pragma once
// A label at a fixed place of a form, named after its control and sized to its text.
#include <QLabel>
#include <QString>

namespace qm::shell {

inline QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left,
                         int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

inline QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  return MakeLabel(parent, name, QString::fromUtf8(text), left, top);
}

}  // namespace qm::shell
