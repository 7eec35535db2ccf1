#include "fileops/gui/XPProgressController.h"

#include "util/Localized.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

XPProgressController::XPProgressController(std::function<void()> cancel, const QString &message, int numberOfItems,
                                           const QString &cancelButtonString, QWidget *parent)
    : QDialog(parent), m_cancel(std::move(cancel))
{
    setObjectName(QStringLiteral("XPProgressController"));
    auto *layout = new QVBoxLayout(this);
    m_statusField = new QLabel(message, this);
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    if (numberOfItems < 0) {
        m_progress->setRange(0, 0); // indeterminate: animates by itself
    } else {
        m_progress->setRange(0, numberOfItems);
        m_progress->setValue(0);
    }
    m_cancelButton = new QPushButton(KLLocalized(QStringLiteral("Stop")), this);
    if (m_cancel && !cancelButtonString.isEmpty())
        m_cancelButton->setText(cancelButtonString);
    m_cancelButton->setVisible(bool(m_cancel));
    auto *row = new QHBoxLayout;
    row->addWidget(m_progress, 1);
    row->addWidget(m_cancelButton);
    layout->addWidget(m_statusField);
    layout->addLayout(row);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { endSheet(0); });
}

XPProgressController::~XPProgressController()
{
    if (m_running)
        progressSheetDidEnd(0);
}

void XPProgressController::showProgressWindowModalForWindow(QWidget *window)
{
    if (window && parentWidget() != window)
        setParent(window, windowFlags());
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    m_running = true;
    show();
    raise();
    activateWindow();
}

void XPProgressController::setPrompt(const QString &text)
{
    m_statusField->setText(text);
}

void XPProgressController::incrementBy(double amount)
{
    m_totalSoFar += amount;
    const double range = double(m_progress->maximum()) - double(m_progress->minimum());
    if (range <= 0)
        return; // indeterminate
    if ((m_totalSoFar - double(m_progress->value())) / range > 0.005)
        m_progress->setValue(int(qMin(m_totalSoFar, double(m_progress->maximum()))));
}

void XPProgressController::updateRunLoop()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::usleep(100);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void XPProgressController::endSheet(int code)
{
    if (!m_running)
        return;
    progressSheetDidEnd(code);
}

void XPProgressController::progressSheetDidEnd(int returnCode)
{
    m_running = false;
    if (m_cancel)
        m_cancel();
    m_progress->setRange(0, qMax(1, m_progress->maximum())); // stops the busy animation
    hide();
    setResult(returnCode);
}
