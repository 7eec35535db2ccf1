#pragma once
// The general and advanced panes of the preferences. Each control is bound to one setting:
// it shows the setting's value, writes it when the user changes the control, and follows the
// setting when something else changes it (another window, another Kelso process, an edit by
// hand). The observers of the settings (the window, the rules, the drop zone) take the change
// from there; nothing here needs a restart.
#include <QWidget>

class Defaults;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace KLPreferencesPanes {

QWidget *makeGeneralPane(Defaults &defaults, QWidget *parent);
QWidget *makeAdvancedPane(Defaults &defaults, QWidget *parent);

// A check box bound to a boolean setting; `inverted` shows the negation (for "don't" keys).
QCheckBox *boundCheckBox(Defaults &defaults, const QString &key, const QString &textKey, QWidget *parent,
                         bool inverted = false);
// A combo box bound to a setting: item i stands for values[i]; a stored value not among them
// shows the first item.
QComboBox *boundComboBox(Defaults &defaults, const QString &key, const QStringList &textKeys,
                         const QVariantList &values, QWidget *parent);
// A button showing a colour setting's swatch; a click opens a colour chooser (with opacity).
QPushButton *colourButton(Defaults &defaults, const QString &key, QWidget *parent);

// The line shown on Wayland, where Kelso cannot see drags in other programs (so the drop zone's
// show and hide rule is off) nor grab a key without a portal. Empty on X11.
QString waylandNote(const QString &platformName);

} // namespace KLPreferencesPanes
