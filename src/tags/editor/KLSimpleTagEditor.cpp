#include "tags/editor/KLSimpleTagEditor.h"

#include "platform/Defaults.h"
#include "tags/Lumitag.h"
#include "tags/LumitagPrefs.h"
#include "tags/TagTextFormat.h"
#include "util/Localized.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QPointer<KLSimpleTagEditor> &sharedEditor()
{
    static QPointer<KLSimpleTagEditor> editor;
    return editor;
}

bool useCommas()
{
    const QVariant setting = Defaults::standard().value(QStringLiteral("KPUseCommas"));
    return setting.isValid() ? Defaults::standard().boolForKey(QStringLiteral("KPUseCommas")) : true;
}
} // namespace

KLSimpleTagEditor::KLSimpleTagEditor(const QStringList &paths, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(KLLocalized(QStringLiteral("KLTagEditorTitle")));
    setObjectName(QStringLiteral("KLSimpleTagEditor"));
    auto *layout = new QVBoxLayout(this);
    m_title = new QLabel(this);
    m_title->setWordWrap(true);
    layout->addWidget(m_title);
    m_field = new QLineEdit(this);
    m_field->setMinimumWidth(360);
    // The title names the field for screen readers ("Tags of …").
    m_title->setBuddy(m_field);
    layout->addWidget(m_field);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->hide();
    layout->addWidget(m_message);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    // Return in the field saves.
    buttons->button(QDialogButtonBox::Save)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    load(paths);
}

KLSimpleTagEditor::~KLSimpleTagEditor() = default;

KLSimpleTagEditor *KLSimpleTagEditor::current()
{
    return sharedEditor().data();
}

KLSimpleTagEditor *KLSimpleTagEditor::editTagsForFilePaths(const QStringList &paths)
{
    if (paths.isEmpty())
        return nullptr;
    KLSimpleTagEditor *editor = sharedEditor().data();
    if (editor) {
        editor->load(paths);
    } else {
        editor = new KLSimpleTagEditor(paths);
        editor->setAttribute(Qt::WA_DeleteOnClose);
        sharedEditor() = editor;
    }
    editor->show();
    editor->raise();
    editor->activateWindow();
    return editor;
}

void KLSimpleTagEditor::load(const QStringList &paths)
{
    m_paths = paths;
    m_original = Lumitag::getCommonUserTags(paths);
    m_title->setText(paths.size() == 1
                         ? KLLocalized(QStringLiteral("KLTagEditorOneFile"), {QFileInfo(paths.first()).fileName()})
                         : KLLocalized(QStringLiteral("KLTagEditorFiles"), {QString::number(paths.size())}));
    m_field->setText(textForTags(m_original));
    m_message->clear();
    m_message->hide();
}

QString KLSimpleTagEditor::textForTags(const QStringList &tags)
{
    return useCommas() ? tags.join(QStringLiteral(", ")) : PimsAdditions::tagFormattedStringOld(tags);
}

QStringList KLSimpleTagEditor::editedTags() const
{
    QStringList out;
    for (const QString &t : XPTagText::grepStringForTags(m_field->text())) {
        if (!t.isEmpty())
            out.append(t);
    }
    return out;
}

bool KLSimpleTagEditor::save()
{
    const QStringList newTags = editedTags();
    if (Lumitag::MavericksOrLater()) {
        if (const auto refused = Lumitag::tagRefusedBySystemStore(newTags)) {
            m_message->setText(KLLocalized(QStringLiteral("KLTagHasComma"), {*refused}));
            m_message->show();
            return false;
        }
    }
    if (!XPTagWriter::needToSetTags(m_original, newTags))
        return true;
    const XPTagWriter::WriteResult result =
        XPTagWriter::replaceOriginalTags(m_original, newTags, m_paths, std::nullopt, {}, false);
    LumitagPrefs::updatePrefsRecentTags(m_original, newTags);
    if (result.failedPaths.isEmpty()) {
        m_original = newTags;
        return true;
    }
    QStringList lines;
    for (const QString &path : result.failedPaths)
        lines.append(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), result.errors.value(path).info));
    m_message->setText(KLLocalized(QStringLiteral("KLTagEditorFailed")) + QLatin1Char('\n') +
                       lines.join(QLatin1Char('\n')));
    m_message->show();
    // The files that took the change now hold the new tags; a second Save retries the rest
    // against what they had before.
    m_paths = result.failedPaths;
    return false;
}
