// Per-character filters of edit fields.
#pragma once

#include <QChar>
#include <QObject>
#include <optional>

class QKeyEvent;
class QLineEdit;

namespace oxlo::ui {

// Address fields take only digits, '.', '%', the apostrophe and backspace.
// Control keys (Enter, Escape, Tab) are not typed characters and pass.
bool AddressKeyPasses(QChar typed);

// The character a key press types, or nothing for a shortcut (Ctrl+A, Ctrl+V
// ...) or a key without text: filters look at typed characters only.
std::optional<QChar> TypedCharacter(const QKeyEvent& event);

// Filters what the operator types into an edit: the address character set
// when asked, and at most `maxTyped` characters (0: no limit). Texts the
// window sets are not limited, so a longer value from a device is shown whole.
void FilterTypedKeys(QLineEdit* edit, bool addressOnly, int maxTyped = 0);

}  // namespace oxlo::ui
