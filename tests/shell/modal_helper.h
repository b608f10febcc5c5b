#pragma once
// Answers the next modal dialog from inside its own event loop, as a user would.
#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace qm::test {

// Once a modal widget is up, runs `act` on it (at most 10 s of polling).
inline void WhenModal(std::function<void(QWidget&)> act) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      act(*modal);
    } else if (++*tries > 1000) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

// Clicks the button of that object name in the next modal dialog.
inline void ClickInNextModal(const QString& buttonName) {
  WhenModal([buttonName](QWidget& modal) {
    if (auto* button = modal.findChild<QAbstractButton*>(buttonName)) button->click();
  });
}

}  // namespace qm::test
