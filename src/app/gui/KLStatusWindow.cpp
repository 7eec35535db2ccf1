#include "app/gui/KLStatusWindow.h"

#include "util/Localized.h"

#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

KLStatusWindow::KLStatusWindow(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Kelso"));
    setObjectName(QStringLiteral("KLMainWindow"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/kelso.svg")));
    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(QStringLiteral("<b>Kelso</b>"), this);
    m_hint = new QLabel(KLLocalized(QStringLiteral("KLStatusWindowHint")), this);
    m_hint->setWordWrap(true);
    m_files = new QListWidget(this);
    m_files->setVisible(false);
    layout->addWidget(title);
    layout->addWidget(m_hint);
    layout->addWidget(m_files);
    resize(420, 200);
}

void KLStatusWindow::setHandedFiles(const QStringList &paths)
{
    m_files->clear();
    m_files->addItems(paths);
    m_files->setVisible(!paths.isEmpty());
}

void KLStatusWindow::bringToFront()
{
    show();
    raise();
    activateWindow();
}
