#pragma once
// The preview of the report's files: a window beside the main window (not modal) showing the
// current file of a PreviewController. Pictures are decoded off the GUI thread and fitted
// to the window; video and audio play with play/pause and a position slider; files that
// cannot be played (cinema RAW, or anything the player rejects) show their facts instead.
// Sound is played only while the machine has an audio output; without one, files play muted.
// ← and → step through the list, Esc and Space close.
//
// The player holds the file open only while it is shown: every step and every close stops
// it and clears its source first, so a card previewed a moment ago can be unmounted or
// erased without "target is busy". Main thread.

#include <QDialog>
#include <QImage>
#include <QPointer>

class QAudioOutput;
class QLabel;
class QMediaDevices;
class QMediaPlayer;
class QSlider;
class QStackedWidget;
class QToolButton;
class QVideoWidget;

namespace brindlecove {

class PreviewController;

class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    enum class Page { image, media, info };

    PreviewWindow(PreviewController& controller, QWidget* parent = nullptr);
    ~PreviewWindow() override;

    Page page() const;
    // The player, once a video or audio file was shown; null before.
    QMediaPlayer* player() const { return player_; }
    // Whether the player has an audio output: only while the machine has an output device.
    bool hasSound() const;
    // Whether the shown picture has been decoded (tests).
    bool hasImage() const;

    // Extensions the player is never given: raw camera video no decoder here reads.
    static bool isUnplayable(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showCurrent();
    void ensurePlayer();
    void followAudioDevices();
    void releaseMedia();
    void showInfo(const QString& path);
    void showPage(Page page);

    PreviewController& controller_;
    QLabel* title_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    class ImagePane* image_ = nullptr;
    QWidget* mediaPage_ = nullptr;
    QVideoWidget* video_ = nullptr;
    QToolButton* playPause_ = nullptr;
    QSlider* position_ = nullptr;
    QLabel* infoText_ = nullptr;
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* audio_ = nullptr;
    QMediaDevices* devices_ = nullptr;
    quint64 generation_ = 0;
    bool closing_ = false;
};

}  // namespace brindlecove
