#pragma once

#include <QWidget>
#include <functional>

class QPlainTextEdit;
class QPushButton;
class QTimer;
class Tracer;

// The Traffic window: every line exchanged with the module as it happens, in the format of
// kavoctl --trace. It takes what is new from the tracer a few times a second while it is
// shown (nothing while it is closed), follows the newest line unless the user scrolled back,
// lets the user copy lines, save them all and clear them. Not modal: the main window stays
// as it is and usable.
class TrafficWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TrafficWindow(Tracer *tracer, QWidget *parent = nullptr);

    // Who asks for the file to save to: a file dialog, or a test.
    void setFileDialogForTesting(std::function<QString()> dialog) { m_fileDialogForTesting = std::move(dialog); }

    // How often what is new is taken while the window is shown.
    static constexpr int RefreshMs = 100;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void takeNew();
    void save();
    void saveTo(const QString &path);
    void clear();

    Tracer *m_tracer;
    QPlainTextEdit *m_view;
    QPushButton *m_save;
    QPushButton *m_clear;
    QTimer *m_refresh;
    quint64 m_seen = 0;
    std::function<QString()> m_fileDialogForTesting;
};
