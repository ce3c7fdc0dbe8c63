#include "ui/common/key_filters.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace oxlo::ui {
namespace {

bool IsControl(char16_t u) {
  return (u < 0x20 && u != 0x08) || u == 0x7F;
}

class TypedKeyFilter final : public QObject {
 public:
  TypedKeyFilter(QLineEdit* edit, bool addressOnly, int maxTyped)
      : QObject(edit), edit_(edit), address_only_(addressOnly), max_typed_(maxTyped) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != edit_ || event->type() != QEvent::KeyPress) return false;
    const std::optional<QChar> key = TypedCharacter(*static_cast<QKeyEvent*>(event));
    if (!key) return false;
    const QChar typed = *key;
    if (address_only_ && !AddressKeyPasses(typed)) return true;
    if (max_typed_ > 0 && !IsControl(typed.unicode()) && typed.unicode() != 0x08 &&
        edit_->text().size() - edit_->selectedText().size() >= max_typed_) {
      return true;
    }
    return false;
  }

 private:
  QLineEdit* edit_;
  bool address_only_;
  int max_typed_;
};

}  // namespace

std::optional<QChar> TypedCharacter(const QKeyEvent& event) {
  if (event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return std::nullopt;
  const QString text = event.text();
  if (text.size() != 1) return std::nullopt;
  return text.front();
}

bool AddressKeyPasses(QChar typed) {
  const char16_t u = typed.unicode();
  if (IsControl(u)) return true;
  return u == 0x08 || u == '%' || u == '\'' || u == '.' || (u >= '0' && u <= '9');
}

void FilterTypedKeys(QLineEdit* edit, bool addressOnly, int maxTyped) {
  edit->installEventFilter(new TypedKeyFilter(edit, addressOnly, maxTyped));
}

}  // namespace oxlo::ui
