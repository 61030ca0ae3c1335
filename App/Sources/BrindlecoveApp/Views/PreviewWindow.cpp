#include "BrindlecoveApp/Views/PreviewWindow.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/ViewModels/PreviewController.hpp"
#include "BrindlecoveApp/Views/EmbeddedPreview.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/VideoFrameReader.hpp"

#include "Tessaline/Scanner/MediaClassifier.hpp"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QMimeDatabase>
#include <QPainter>
#include <QKeyEvent>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace brindlecove {

// A picture fitted into the widget, aspect kept, centred.
class ImagePane : public QWidget {
public:
    using QWidget::QWidget;
    void setImage(QImage image) {
        image_ = std::move(image);
        update();
    }
    bool hasImage() const { return !image_.isNull(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Base));
        if (image_.isNull()) return;
        QSizeF fitted = QSizeF(image_.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
        QRectF target(QPointF(0, 0), fitted);
        target.moveCenter(QRectF(rect()).center());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, image_);
    }

private:
    QImage image_;
};

namespace {

// The largest picture decoded for the preview, in pixels on the long side.
constexpr int previewLongSide = 2560;

QImage loadPicture(const QString& path) {
    if (EmbeddedPreview::handles(path)) return EmbeddedPreview::read(path);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > previewLongSide)
        reader.setScaledSize(size.scaled(previewLongSide, previewLongSide, Qt::KeepAspectRatio));
    return reader.read();
}

QString infoText(const QString& path) {
    QFileInfo info(path);
    static const QMimeDatabase database;
    QStringList lines;
    lines << info.fileName();
    lines << database.mimeTypeForFile(path, QMimeDatabase::MatchExtension).comment();
    if (info.exists()) {
        lines << Formats::fileByteCount(info.size());
        lines << QLocale().toString(info.lastModified(), QLocale::ShortFormat);
    }
    lines << path;
    return lines.join(u'\n');
}

}  // namespace

bool PreviewWindow::isUnplayable(const QString& path) {
    static const QStringList extensions{QStringLiteral("r3d"), QStringLiteral("ari"), QStringLiteral("arx"),
                                        QStringLiteral("braw"), QStringLiteral("crm"), QStringLiteral("rmf")};
    return extensions.contains(QFileInfo(path).suffix().toLower());
}

PreviewWindow::PreviewWindow(PreviewController& controller, QWidget* parent)
    : QDialog(parent), controller_(controller) {
    setObjectName(QStringLiteral("preview.window"));
    setModal(false);
    setWindowTitle(QStringLiteral("Preview"));
    resize(820, 560);
    auto* layout = new QVBoxLayout(this);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("preview.title"));
    title_->setFont(Style::font(Style::TextStyle::headline, font()));
    title_->setTextFormat(Qt::PlainText);
    layout->addWidget(title_);

    pages_ = new QStackedWidget(this);
    image_ = new ImagePane(pages_);
    image_->setObjectName(QStringLiteral("preview.image"));
    pages_->addWidget(image_);

    mediaPage_ = new QWidget(pages_);
    auto* media = new QVBoxLayout(mediaPage_);
    media->setContentsMargins(0, 0, 0, 0);
    video_ = new QVideoWidget(mediaPage_);
    video_->setObjectName(QStringLiteral("preview.video"));
    media->addWidget(video_, 1);
    auto* controls = new QHBoxLayout;
    playPause_ = new QToolButton(mediaPage_);
    playPause_->setObjectName(QStringLiteral("preview.playPause"));
    playPause_->setFocusPolicy(Qt::NoFocus);
    playPause_->setText(QStringLiteral("Pause"));
    controls->addWidget(playPause_);
    position_ = new QSlider(Qt::Horizontal, mediaPage_);
    position_->setObjectName(QStringLiteral("preview.position"));
    position_->setFocusPolicy(Qt::NoFocus);
    controls->addWidget(position_, 1);
    media->addLayout(controls);
    pages_->addWidget(mediaPage_);

    infoText_ = new QLabel(pages_);
    infoText_->setObjectName(QStringLiteral("preview.info"));
    infoText_->setAlignment(Qt::AlignCenter);
    infoText_->setTextFormat(Qt::PlainText);
    infoText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    infoText_->setWordWrap(true);
    pages_->addWidget(infoText_);
    layout->addWidget(pages_, 1);

    connect(playPause_, &QToolButton::clicked, this, [this] {
        if (!player_) return;
        if (player_->playbackState() == QMediaPlayer::PlayingState) player_->pause();
        else player_->play();
    });
    connect(position_, &QSlider::sliderMoved, this, [this](int ms) {
        if (player_) player_->setPosition(ms);
    });

    connect(&controller_, &PreviewController::currentChanged, this, [this] { showCurrent(); });
    showCurrent();
}

PreviewWindow::~PreviewWindow() { releaseMedia(); }

PreviewWindow::Page PreviewWindow::page() const {
    if (pages_->currentWidget() == mediaPage_) return Page::media;
    if (pages_->currentWidget() == infoText_) return Page::info;
    return Page::image;
}

bool PreviewWindow::hasImage() const { return image_->hasImage(); }

void PreviewWindow::showPage(Page page) {
    pages_->setCurrentWidget(page == Page::media ? mediaPage_ : page == Page::info ? static_cast<QWidget*>(infoText_)
                                                                                   : image_);
}

void PreviewWindow::ensurePlayer() {
    if (player_) return;
    // Made on the first video or audio file only: a preview of stills never loads a backend.
    player_ = new QMediaPlayer(this);
    player_->setVideoOutput(video_);
    // A player given an audio output on a machine without one crashes in the backend's audio
    // thread: sound is attached only while a device exists, and otherwise the file plays muted.
    devices_ = new QMediaDevices(this);
    connect(devices_, &QMediaDevices::audioOutputsChanged, this, [this] { followAudioDevices(); });
    followAudioDevices();
    connect(player_, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
        playPause_->setText(state == QMediaPlayer::PlayingState ? QStringLiteral("Pause") : QStringLiteral("Play"));
    });
    connect(player_, &QMediaPlayer::durationChanged, this,
            [this](qint64 ms) { position_->setRange(0, static_cast<int>(std::min<qint64>(ms, INT_MAX))); });
    connect(player_, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
        if (!position_->isSliderDown()) position_->setValue(static_cast<int>(std::min<qint64>(ms, INT_MAX)));
    });
    // Queued: the player is not stopped from inside its own signal.
    connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString&) {
        if (error == QMediaPlayer::NoError || !controller_.current()) return;
        const QString path = *controller_.current();
        releaseMedia();
        showInfo(path);
    }, Qt::QueuedConnection);
}

void PreviewWindow::followAudioDevices() {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    const bool present = !device.isNull() && !QMediaDevices::audioOutputs().isEmpty();
    if (!present) {
        if (audio_) {
            player_->setAudioOutput(nullptr);
            audio_->deleteLater();
            audio_ = nullptr;
        }
        return;
    }
    if (!audio_) {
        audio_ = new QAudioOutput(device, this);
        player_->setAudioOutput(audio_);
    } else if (audio_->device() != device) {
        audio_->setDevice(device);
    }
}

bool PreviewWindow::hasSound() const { return audio_ != nullptr; }

void PreviewWindow::releaseMedia() {
    if (!player_) return;
    player_->stop();
    player_->setSource(QUrl());
}

void PreviewWindow::showInfo(const QString& path) {
    // The name and path at once; size and date from a worker (a stat of a card that is being
    // pulled must not hold the window).
    infoText_->setText(QFileInfo(path).fileName() + u'\n' + path);
    showPage(Page::info);
    const quint64 generation = generation_;
    Executor::shared().userInitiated([self = QPointer<PreviewWindow>(this), path, generation] {
        QString text = infoText(path);
        MainThread::post([self, generation, text = std::move(text)] {
            if (self && self->generation_ == generation) self->infoText_->setText(text);
        });
    });
}

void PreviewWindow::showCurrent() {
    ++generation_;
    releaseMedia();
    const auto& current = controller_.current();
    if (!current) {
        if (isVisible() && !closing_) hide();
        return;
    }
    const QString path = *current;
    title_->setText(QFileInfo(path).fileName());
    setWindowTitle(QFileInfo(path).fileName());
    const auto file = fsPath(path);
    if (isUnplayable(path)) {
        showInfo(path);
    } else if (tessaline::MediaClassifier::isVideo(file) || tessaline::MediaClassifier::isAudio(file)) {
        showPage(Page::media);
        position_->setValue(0);
        // The player is given only a file that opens: a file that is gone or unreadable
        // (a pulled card) shows its facts instead.
        const quint64 generation = generation_;
        Executor::shared().userInitiated([self = QPointer<PreviewWindow>(this), path, generation] {
            const bool opens = VideoFrameReader::opensAsMedia(path);
            MainThread::post([self, path, generation, opens] {
                if (!self || self->generation_ != generation || !self->isVisible()) return;
                if (!opens) {
                    self->showInfo(path);
                    return;
                }
                self->ensurePlayer();
                self->player_->setSource(QUrl::fromLocalFile(path));
                self->player_->play();
            });
        });
    } else {
        image_->setImage(QImage());
        showPage(Page::image);
        const quint64 generation = generation_;
        Executor::shared().userInitiated([self = QPointer<PreviewWindow>(this), path, generation] {
            QImage picture = loadPicture(path);
            MainThread::post([self, path, generation, picture = std::move(picture)] {
                if (!self || self->generation_ != generation) return;
                if (picture.isNull()) self->showInfo(path);
                else self->image_->setImage(picture);
            });
        });
    }
    if (!isVisible()) show();
    raise();
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left: controller_.previous(); return;
        case Qt::Key_Right: controller_.next(); return;
        case Qt::Key_Space: close(); return;
        default: QDialog::keyPressEvent(event);  // Esc rejects, which hides: the file is let go
    }
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    releaseMedia();
    QDialog::closeEvent(event);
}

void PreviewWindow::hideEvent(QHideEvent* event) {
    releaseMedia();
    closing_ = true;
    controller_.close();
    closing_ = false;
    QDialog::hideEvent(event);
}

}  // namespace brindlecove
