#include "tags/editor/XPTagEditorController.h"

#include "platform/Defaults.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "tags/Lumitag.h"
#include "tags/LumitagPrefs.h"
#include "tags/editor/XPRatingControl.h"
#include "tags/editor/XPTagButton.h"
#include "tags/editor/XPTagEditorRules.h"
#include "tags/editor/XPTagsTokenFieldController.h"
#include "tags/editor/XPTokenField.h"
#include "util/Localized.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QScreen>
#include <QVBoxLayout>

namespace {
const QString kShowRecentsKey = QStringLiteral("XPShowRecents");
const QString kCustomWordsKey = QStringLiteral("KPCustomWords");
const QString kUseCommasKey = QStringLiteral("KPUseCommas");

// Absent counts as on: the favourite row is shown until the user hides it.
bool showRecents()
{
    const QVariant v = Defaults::standard().value(kShowRecentsKey);
    return !v.isValid() || v.toBool();
}

QString displayName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}
} // namespace

XPTagEditorController::XPTagEditorController(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("XPTagEditorWindow"));
    // A floating window that stays up while another program is active.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_previewThread.setMaxThreadCount(1);
    m_previewThread.setObjectName(QStringLiteral("tag editor preview"));
    buildWindow();
    connect(&Defaults::standard(), &Defaults::changed, this, [this](const QString &key) {
        if (key == kCustomWordsKey || key == kShowRecentsKey)
            rebuildFavoriteTagButtons();
        if (key == kUseCommasKey || key == kShowRecentsKey)
            applyHint();
    });
}

XPTagEditorController::~XPTagEditorController()
{
    m_previewThread.waitForDone();
}

void XPTagEditorController::buildWindow()
{
    m_titleBar = new QLabel(this);
    m_titleBar->setObjectName(QStringLiteral("tagFieldTitleBar"));
    m_field = new XPTokenField(this);
    m_field->setObjectName(QStringLiteral("tagsTokenField"));
    m_titleBar->setBuddy(m_field);
    m_controller = new XPTagsTokenFieldController(m_field, 48, this);
    m_rating = new XPRatingControl(this);
    m_ratingDisplay = new QLabel(this);
    m_ratingDisplay->setObjectName(QStringLiteral("ratingDisplay"));
    m_image = new QLabel(this);
    m_image->setObjectName(QStringLiteral("imageView"));
    m_image->setFixedSize(kPreviewSize, kPreviewSize);
    m_image->setAlignment(Qt::AlignCenter);
    m_fileName = new QLabel(this);
    m_fileName->setObjectName(QStringLiteral("fileNameTextField"));
    m_fileName->setWordWrap(true);
    m_fileName->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_fileName->setMaximumWidth(kPreviewSize + 20);
    m_favorites = new QWidget(this);
    m_favorites->setObjectName(QStringLiteral("favoriteTagsContainerView"));
    m_favorites->setAccessibleName(KLLocalized(QStringLiteral("XPFavoriteTagsName")));
    m_favorites->setMinimumHeight(
        3 * (XPTagsTokenFieldController::kButtonRowHeight + XPTagsTokenFieldController::kButtonGap) +
        XPTagsTokenFieldController::kButtonGap);
    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("howToMakeTwoWordTagsHelp"));
    m_hint->setWordWrap(true);
    QFont small = m_hint->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_hint->setFont(small);
    m_controller->setFavoriteTagsContainerView(m_favorites);

    auto *picture = new QVBoxLayout;
    picture->addWidget(m_image, 0, Qt::AlignHCenter);
    picture->addWidget(m_fileName);
    picture->addStretch(1);
    auto *ratingRow = new QHBoxLayout;
    ratingRow->addWidget(m_rating);
    ratingRow->addWidget(m_ratingDisplay, 1);
    auto *tagsColumn = new QVBoxLayout;
    tagsColumn->addWidget(m_titleBar);
    tagsColumn->addWidget(m_field, 1);
    tagsColumn->addLayout(ratingRow);
    auto *top = new QHBoxLayout;
    top->addLayout(picture);
    top->addLayout(tagsColumn, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(m_favorites);
    layout->addWidget(m_hint);
    setMinimumSize(250, 150);
    resize(440, 260);

    connect(m_rating, &XPRatingControl::ratingChanged, this, [this](int value) {
        m_needToWriteRatings = true;
        m_ratingDisplay->setText(XPTagEditorRules::ratingText(value));
    });
    connect(m_controller, &XPTagsTokenFieldController::returnPressed, this, &XPTagEditorController::commitOnLeaving);
    connect(m_controller, &XPTagsTokenFieldController::escapePressed, this, &XPTagEditorController::cancelEditing);
    connect(m_controller, &XPTagsTokenFieldController::tabPressed, this, [this] { moveToAnotherDocument(true); });
    connect(m_controller, &XPTagsTokenFieldController::backtabPressed, this, [this] { moveToAnotherDocument(false); });
    applyHint();
    rebuildFavoriteTagButtons();
}

void XPTagEditorController::applyHint()
{
    const bool commas = Defaults::standard().boolForKey(kUseCommasKey);
    m_hint->setText(KLLocalized(commas ? QStringLiteral("Hint: Use commas to seperate tags. Keep tags short")
                                       : QStringLiteral("Hint: Use quotes for two word tags")));
    const bool shown = showRecents();
    m_favorites->setVisible(shown);
    m_hint->setVisible(shown);
}

void XPTagEditorController::editTagsForFilePaths(const QStringList &paths)
{
    if (paths.isEmpty() || !paths.last().startsWith(QLatin1Char('/')))
        return;
    // Files still open in the editor are written before others are loaded.
    if (!m_controller->referenceObject().isEmpty())
        writeCommonTags();
    editFiles(paths);
    if (!m_frameRestored) {
        // No kept frame: the middle of the screen, where the eye is.
        if (!restoreFrame()) {
            if (QScreen *primary = QGuiApplication::primaryScreen())
                move(primary->availableGeometry().center() - QPoint(width() / 2, height() / 2));
        }
        m_frameRestored = true;
    }
    // Inside the visible area of its screen.
    QScreen *screen = QGuiApplication::screenAt(frameGeometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        // move() places the frame, title bar included.
        QRect frame = frameGeometry();
        frame.moveLeft(qBound(area.left(), frame.left(), qMax(area.left(), area.right() - frame.width())));
        frame.moveTop(qBound(area.top(), frame.top(), qMax(area.top(), area.bottom() - frame.height())));
        // Moved only when it was outside: a window not yet shown has no frame to measure.
        if (frame.topLeft() != frameGeometry().topLeft())
            move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
    m_field->setFocus(Qt::OtherFocusReason);
}

void XPTagEditorController::editFiles(const QStringList &paths)
{
    ++m_loadGeneration;
    m_needToWriteRatings = false;
    const QString first = paths.isEmpty() ? QString() : displayName(paths.first());
    m_fileName->setText(XPTagEditorRules::fileNameLine(paths.size(), first));
    m_titleBar->setText(XPTagEditorRules::tagFieldTitle(paths.size()));
    setWindowTitle(XPTagEditorRules::windowTitleForFileCount(paths.size(), first));
    // A screen reader names the field after the files ("Tags of minutes.txt").
    m_field->setAccessibleName(windowTitle());
    setImageWell(paths);
    if (paths.size() <= kReadOnMainThreadUpTo) {
        // A few files read at once; a read error shows as no tags.
        QList<double> ratings;
        for (const QString &path : paths)
            ratings.append(Lumitag::getRating(path));
        filesRead(paths, Lumitag::getCommonUserTags(paths), ratings);
        return;
    }
    // Many files are read on the preview thread; until they are, the editor holds no files, so
    // leaving it writes nothing.
    m_controller->setTags({}, {});
    m_field->setEnabled(false);
    m_rating->setEnabled(false);
    m_ratingDisplay->setText(KLLocalized(QStringLiteral("XPTagEditorReading")));
    QPointer<XPTagEditorController> self(this);
    const quint64 generation = m_loadGeneration;
    m_previewThread.start([self, paths, generation] {
        const QStringList common = Lumitag::getCommonUserTags(paths);
        QList<double> ratings;
        ratings.reserve(paths.size());
        for (const QString &path : paths)
            ratings.append(Lumitag::getRating(path));
        QMetaObject::invokeMethod(
            qApp,
            [self, paths, common, ratings, generation] {
                if (self && self->m_loadGeneration == generation)
                    self->filesRead(paths, common, ratings);
            },
            Qt::QueuedConnection);
    });
}

void XPTagEditorController::filesRead(const QStringList &paths, const QStringList &common, const QList<double> &ratings)
{
    m_controller->setTags(common, paths);
    m_field->setEnabled(true);
    m_rating->setEnabled(true);
    const XPTagEditorRules::RatingDisplay display = XPTagEditorRules::ratingDisplay(ratings);
    m_rating->setValue(display.value);
    m_ratingDisplay->setText(display.text);
    if (isActiveWindow())
        m_field->setFocus(Qt::OtherFocusReason);
    rebuildFavoriteTagButtons();
}

QStringList XPTagEditorController::tags() const
{
    return m_controller->tags();
}

QStringList XPTagEditorController::originalTags() const
{
    return m_controller->originalTags();
}

QStringList XPTagEditorController::referenceObject() const
{
    return m_controller->referenceObject();
}

void XPTagEditorController::setFieldTags(const QStringList &tags)
{
    m_field->setTokens(tags);
    m_controller->updateFavoriteTagButtons();
}

void XPTagEditorController::reset()
{
    // Files still being read are not loaded any more.
    ++m_loadGeneration;
    m_field->setEnabled(true);
    m_rating->setEnabled(true);
    m_controller->reset();
    m_image->clear();
    m_shownPreviewPath.clear();
    m_needToWriteRatings = false;
}

double XPTagEditorController::currentRating() const
{
    return m_rating->value();
}

void XPTagEditorController::setImageWell(const QStringList &paths)
{
    m_image->clear();
    m_shownPreviewPath.clear();
    if (paths.size() != 1) {
        m_image->setPixmap(
            QIcon::fromTheme(QStringLiteral("document-multiple"), QIcon::fromTheme(QStringLiteral("text-x-generic")))
                .pixmap(kPreviewSize, kPreviewSize));
        return;
    }
    const QString path = paths.first();
    QPointer<XPTagEditorController> self(this);
    m_previewThread.start([self, path] {
        Thumbnailer::Request request;
        request.path = path;
        request.box = QSize(kPreviewSize, kPreviewSize);
        const Thumbnailer::Result result = Thumbnailer::create(request);
        const QString iconName = result.image.isNull() ? QMimeDatabase().mimeTypeForFile(path).iconName() : QString();
        QImage image = result.image;
        QMetaObject::invokeMethod(
            qApp,
            [self, path, image, iconName] {
                if (self)
                    self->showPreview(path, image, iconName);
            },
            Qt::QueuedConnection);
    });
}

void XPTagEditorController::showPreview(const QString &path, const QImage &image, const QString &iconName)
{
    const QStringList paths = m_controller->referenceObject();
    if (paths.size() != 1 || paths.last() != path) {
        Q_EMIT previewDropped(path);
        return;
    }
    if (!image.isNull()) {
        m_image->setPixmap(QPixmap::fromImage(image));
    } else {
        m_image->setPixmap(QIcon::fromTheme(iconName, QIcon::fromTheme(QStringLiteral("text-x-generic")))
                               .pixmap(kPreviewSize, kPreviewSize));
    }
    m_shownPreviewPath = path;
    Q_EMIT previewShown(path);
}

XPTagWriteSession *XPTagEditorController::writeCommonTags()
{
    // Text typed but not yet a token still counts.
    m_controller->commitPendingText();
    const QStringList newTags = tags();
    const QStringList original = originalTags();
    const QStringList paths = referenceObject();
    const double rating = currentRating();
    const bool writeRatings = m_needToWriteRatings;
    reset();
    if (paths.isEmpty())
        return nullptr;

    std::optional<double> newRating;
    if (writeRatings)
        newRating = rating;
    else if (!XPTagWriter::needToSetTags(original, newTags))
        return nullptr;

    // A tag the desktop's file tags cannot hold is refused before anything is written.
    if (Lumitag::MavericksOrLater() && XPTagWriter::needToSetTags(original, newTags)) {
        if (const auto refused = Lumitag::tagRefusedBySystemStore(newTags)) {
            QHash<QString, QString> reasons;
            const QString why = KLLocalized(QStringLiteral("KLTagHasComma"), {*refused});
            for (const QString &path : paths)
                reasons.insert(path, why);
            const XPTagEditorRules::FailureReport report = XPTagEditorRules::failureReport(paths, paths, reasons);
            XPTagWriteSession::reportFailures(report, m_prompts);
            return nullptr;
        }
    }
    XPTagWriteSession *session =
        XPTagWriteSession::start(XPDeltaTagsOperation(paths, original, newTags, newRating), m_prompts, true);
    XPTagWriteSession::rememberEnteredTags(original, newTags);
    return session;
}

void XPTagEditorController::orderEditorOut()
{
    if (!isVisible())
        return;
    if (m_delegate.willGoAway)
        m_delegate.willGoAway();
    saveFrame();
    hide();
}

void XPTagEditorController::commitOnLeaving()
{
    if (m_leaving)
        return;
    m_leaving = true;
    orderEditorOut();
    writeCommonTags();
    m_leaving = false;
    if (m_delegate.didGoAway)
        m_delegate.didGoAway();
}

void XPTagEditorController::cancelEditing()
{
    reset();
    orderEditorOut();
}

void XPTagEditorController::moveToAnotherDocument(bool forward)
{
    writeCommonTags();
    if (!m_delegate.moveToAnotherDocument) {
        orderEditorOut();
        return;
    }
    if (!m_delegate.moveToAnotherDocument(forward)) {
        if (m_beeper)
            m_beeper();
        else
            QApplication::beep();
    }
}

void XPTagEditorController::rebuildFavoriteTagButtons()
{
    if (!showRecents())
        return;
    QPointer<XPTagEditorController> self(this);
    XPTagsTokenFieldController::rebuildFavoriteTagButtons(m_favorites, [self](XPTagButton *button) {
        if (self && button)
            self->toggleFavoriteTag(button->text());
    });
    m_controller->updateFavoriteTagButtons();
}

void XPTagEditorController::toggleFavoriteTag(const QString &tag)
{
    QStringList current = m_field->tokens();
    if (current.contains(tag))
        current.removeOne(tag);
    else
        current.append(tag);
    setFieldTags(current);
}

void XPTagEditorController::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Losing the keyboard to another window commits.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && isVisible() &&
        !m_controller->referenceObject().isEmpty())
        commitOnLeaving();
}

void XPTagEditorController::closeEvent(QCloseEvent *event)
{
    event->ignore();
    commitOnLeaving();
}

void XPTagEditorController::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        cancelEditing();
        return;
    }
    QWidget::keyPressEvent(event);
}

void XPTagEditorController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (isVisible())
        rebuildFavoriteTagButtons();
}

bool XPTagEditorController::restoreFrame()
{
    const QStringList parts = Defaults::standard().stringForKey(kFrameKey).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return false;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts.at(i).toInt(&ok);
        if (!ok)
            return false;
    }
    const QRect frame(v[0], v[1], qMax(v[2], minimumWidth()), qMax(v[3], minimumHeight()));
    // A frame from a screen that is gone is not used.
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(frame)) {
            setGeometry(frame);
            return true;
        }
    }
    return false;
}

void XPTagEditorController::saveFrame()
{
    const QRect frame = geometry();
    Defaults::standard().setString(
        kFrameKey, QStringLiteral("%1 %2 %3 %4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()));
}

bool XPTagEditorController::isReadingFiles() const
{
    return !m_field->isEnabled();
}
