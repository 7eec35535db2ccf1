#include "tags/editor/XPTagSearchController.h"

#include "platform/Defaults.h"
#include "tags/TagTextFormat.h"
#include "tags/editor/XPRatingControl.h"
#include "tags/editor/XPTagButton.h"
#include "tags/editor/XPTagEditorRules.h"
#include "tags/editor/XPTagsTokenFieldController.h"
#include "util/Localized.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

XPTagSearchController::XPTagSearchController(QueryRunner runner, QWidget *parent)
    : QWidget(parent, Qt::Window), m_runner(std::move(runner))
{
    setObjectName(QStringLiteral("XPTagSearchWindow"));
    setWindowTitle(KLLocalized(QStringLiteral("XPTagSearchWindowTitle")));
    setAttribute(Qt::WA_QuitOnClose, false);

    m_searchField = new QLineEdit(this);
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setMinimumWidth(300);
    m_rating = new XPRatingControl(this);
    m_rating->setAccessibleName(KLLocalized(QStringLiteral("XPTagSearchRatingName")));
    m_favorites = new QWidget(this);
    m_favorites->setObjectName(QStringLiteral("favoriteTagsContainerView"));
    m_favorites->setAccessibleName(KLLocalized(QStringLiteral("XPFavoriteTagsName")));
    m_favorites->setMinimumHeight(
        3 * (XPTagsTokenFieldController::kButtonRowHeight + XPTagsTokenFieldController::kButtonGap) +
        XPTagsTokenFieldController::kButtonGap);
    m_searchButton = new QPushButton(KLLocalized(QStringLiteral("XPTagSearchButton")), this);
    m_searchButton->setObjectName(QStringLiteral("searchButton"));
    m_searchButton->setDefault(true);

    auto *tagsLabel = new QLabel(KLLocalized(QStringLiteral("XPTagSearchTagsLabel")), this);
    tagsLabel->setBuddy(m_searchField);
    m_searchField->setAccessibleName(tagsLabel->text());
    auto *ratingLabel = new QLabel(KLLocalized(QStringLiteral("XPTagSearchRatingLabel")), this);
    ratingLabel->setBuddy(m_rating);
    auto *form = new QFormLayout;
    form->addRow(tagsLabel, m_searchField);
    form->addRow(ratingLabel, m_rating);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_searchButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_favorites, 1);
    layout->addLayout(buttons);
    resize(420, 200);

    connect(m_searchButton, &QPushButton::clicked, this, &XPTagSearchController::searchButtonAction);
    connect(m_searchField, &QLineEdit::returnPressed, this, &XPTagSearchController::searchButtonAction);
    connect(m_searchField, &QLineEdit::textChanged, this, &XPTagSearchController::updateButtonStates);
    connect(&Defaults::standard(), &Defaults::changed, this, [this](const QString &key) {
        if (key == QLatin1String("KPCustomWords"))
            rebuildFavoriteTagButtons();
    });
    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, [this] {
        if (isVisible() && QApplication::applicationState() == Qt::ApplicationActive)
            rebuildFavoriteTagButtons();
    });
    m_refresh->start();
    rebuildFavoriteTagButtons();
}

void XPTagSearchController::findAction()
{
    rebuildFavoriteTagButtons();
    show();
    raise();
    activateWindow();
    m_searchField->setFocus(Qt::OtherFocusReason);
}

QStringList XPTagSearchController::tags() const
{
    return PimsAdditions::arrayWithTagFormattedStringOld(m_searchField->text());
}

QString XPTagSearchController::queryText() const
{
    return XPTagEditorRules::tagQueryText(tags(), m_rating->value());
}

void XPTagSearchController::searchButtonAction()
{
    const QString query = queryText();
    if (m_runner)
        m_runner(query);
}

void XPTagSearchController::toggleFavoriteTag(const QString &tag)
{
    QStringList current = tags();
    if (current.contains(tag))
        current.removeOne(tag);
    else
        current.append(tag);
    m_searchField->setText(PimsAdditions::tagFormattedStringOld(current));
}

void XPTagSearchController::rebuildFavoriteTagButtons()
{
    QPointer<XPTagSearchController> self(this);
    XPTagsTokenFieldController::rebuildFavoriteTagButtons(m_favorites, [self](XPTagButton *button) {
        if (self && button)
            self->toggleFavoriteTag(button->text());
    });
    updateButtonStates();
}

void XPTagSearchController::updateButtonStates()
{
    XPTagsTokenFieldController::updateFavoriteTagButtons(m_favorites, tags());
}

void XPTagSearchController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    rebuildFavoriteTagButtons();
}

void XPTagSearchController::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}
