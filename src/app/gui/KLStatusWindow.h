#pragma once
// Kelso's window until the browsing panes arrive: names the program, says how to bring it
// forward and lists the files handed to it. Escape hides it.
#include <QWidget>

class QLabel;
class QListWidget;

class KLStatusWindow : public QWidget
{
    Q_OBJECT
public:
    explicit KLStatusWindow(QWidget *parent = nullptr);
    void setHandedFiles(const QStringList &paths);
    void bringToFront();

private:
    QLabel *m_hint = nullptr;
    QListWidget *m_files = nullptr;
};
