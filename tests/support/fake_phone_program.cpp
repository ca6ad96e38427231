// yux_fake_phone: a USB multiplexer daemon with one phone whose companion app sends a moving
// picture and a tone, for pictures of the real program on a desktop without a camera. Prints
// the daemon's socket path on its first line and serves until SIGTERM or SIGINT.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QRadialGradient>

#include "support/fake_companion_app.hpp"
#include "support/fake_usb_mux_daemon.hpp"

namespace {

constexpr QSize kPictureSize{640, 480};
// One second of pictures at the app's 30 per second, shown in a loop.
constexpr int kPictureCount = 30;

// A face on a warm background that sways left and right, so the bubble visibly moves.
std::vector<std::uint8_t> picture(int index) {
    QImage image(kPictureSize, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient background(QPointF(320, 200), 420);
    background.setColorAt(0, QColor(250, 214, 165));
    background.setColorAt(1, QColor(196, 110, 70));
    painter.fillRect(image.rect(), background);
    const double sway = 60 * std::sin(2 * std::numbers::pi * index / kPictureCount);
    const QPointF centre(320 + sway, 250);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(70, 50, 40));
    painter.drawEllipse(QRectF(centre.x() - 140, 470 - 90, 280, 200));
    painter.setBrush(QColor(241, 194, 150));
    painter.drawEllipse(centre, 110, 130);
    painter.setBrush(QColor(60, 40, 30));
    painter.drawEllipse(centre + QPointF(-40, -25), 12, 14);
    painter.drawEllipse(centre + QPointF(40, -25), 12, 14);
    painter.setPen(QPen(QColor(150, 60, 50), 8, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(centre.x() - 45, centre.y() + 10, 90, 50), -20 * 16, -140 * 16);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return {bytes.begin(), bytes.end()};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    // Blocked before the daemon's threads start, so only sigwait below sees them.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    yux::testing::FakeCompanionApp::Options options;
    for (int index = 0; index < kPictureCount; ++index) options.pictures.push_back(picture(index));

    std::mutex mutex;
    std::vector<std::unique_ptr<yux::testing::FakeCompanionApp>> apps;
    {
        yux::testing::FakeUsbMuxDaemon daemon;
        daemon.onTunnel([&](int descriptor, std::int64_t) {
            auto app = std::make_unique<yux::testing::FakeCompanionApp>(options);
            app->take(descriptor);
            std::lock_guard lock(mutex);
            apps.push_back(std::move(app));
        });
        daemon.attach({1, "00008110-TESTPHONE"});
        std::printf("%s\n", daemon.socketPath().c_str());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stops, &signal);
        // The apps hang up before the daemon's threads are joined.
        std::lock_guard lock(mutex);
        apps.clear();
    }
    return 0;
}
