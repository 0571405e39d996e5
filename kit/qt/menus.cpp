#include "kit/qt/menus.h"

namespace kit::qt {

void fillMenu(QMenu& target, const Menu& source, const std::function<void(Menu&)>& chosen) {
  for (const auto& item : source.items()) {
    if (!item->visible()) continue;
    if (item->caption() == "-") {
      target.addSeparator();
      continue;
    }
    const QString caption = QString::fromStdString(item->caption());
    if (!item->items().empty()) {
      QMenu* sub = target.addMenu(caption);
      sub->setEnabled(item->enabled());
      fillMenu(*sub, *item, chosen);
      continue;
    }
    QAction* action = target.addAction(caption);
    action->setObjectName(QString::fromStdString(item->name()));
    action->setEnabled(item->enabled());
    Menu* picked = item.get();
    QObject::connect(action, &QAction::triggered, &target, [chosen, picked] { chosen(*picked); });
  }
}

std::string menuSignature(const Menu& source) {
  std::string s = source.caption() + (source.visible() ? "+" : "-") + (source.enabled() ? "e" : "d") + "[";
  for (const auto& item : source.items()) s += menuSignature(*item) + ";";
  return s + "]";
}

}  // namespace kit::qt
