// A small program that starts a real XDND drag, for the drop zone's end-to-end scenarios.
//
//   kelso_drag_source --files PATH... | --text TEXT
//
// It shows a window titled "Drag Source" filling the top left corner of the screen. The first
// press of the left button in it starts a drag of the given files (as text/uri-list) or of
// plain text; xdotool then moves the pointer and releases the button where the drop should
// land. The program prints "drag ended: ACTION" and exits when the drag is over.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {

class DragSource : public QWidget
{
public:
    explicit DragSource(QMimeData *(*make)(const QStringList &), QStringList args)
        : m_make(make), m_args(std::move(args))
    {
        setWindowTitle(QStringLiteral("Drag Source"));
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || m_started)
            return;
        m_started = true;
        auto *drag = new QDrag(this);
        drag->setMimeData(m_make(m_args));
        const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
        std::printf("drag ended: %d\n", int(result));
        std::fflush(stdout);
        QApplication::quit();
    }

private:
    QMimeData *(*m_make)(const QStringList &);
    QStringList m_args;
    bool m_started = false;
};

QMimeData *filesData(const QStringList &paths)
{
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    mime->setUrls(urls);
    return mime;
}

QMimeData *textData(const QStringList &words)
{
    auto *mime = new QMimeData;
    mime->setText(words.join(QLatin1Char(' ')));
    return mime;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() < 2 || (args[0] != QLatin1String("--files") && args[0] != QLatin1String("--text"))) {
        std::fprintf(stderr, "usage: kelso_drag_source --files PATH... | --text TEXT\n");
        return 2;
    }
    const bool files = args.takeFirst() == QLatin1String("--files");
    DragSource window(files ? filesData : textData, args);
    window.setGeometry(0, 0, 400, 300);
    window.show();
    return app.exec();
}
