#include "shell/kept_takes_offer.hpp"

#include <optional>

#include "editor/worker_task.hpp"
#include "model/log_text.hpp"
#include "platform/media/media_asset.hpp"

namespace yux {

QCoro::Task<bool> KeptTakesOffer::movieHoldsNothing(std::string moviePath) {
    auto probe = [moviePath] {
        try {
            return platform::MediaAsset::holdsNoSample(moviePath);
        } catch (const std::exception&) {
            return false;  // unreadable (EIO, EACCES, damaged): kept for the user
        }
    };
    auto probing = onWorkerThread(std::move(probe));
    co_return co_await probing;
}

QCoro::Task<void> KeptTakesOffer::run(std::vector<std::string> markerFiles) const {
    // A copy: the caller may drop this object while a window is open.
    const KeptTakesOffer offer = *this;
    const std::vector<Marker> kept = co_await offer.markers.waiting(std::move(markerFiles));
    for (const Marker& take : kept) {
        if (offer.quitting && offer.quitting()) co_return;
        // Looked at again: an earlier window may have stayed open long enough for the user to move
        // or replace this one.
        std::vector<std::string> file{PendingRecordingMarkers::markerPath(take.scratchPath)};
        const std::vector<Marker> current = co_await offer.markers.waiting(std::move(file));
        if (current.empty()) continue;
        std::optional<std::string> failure;
        bool adopted = false;
        try {
            adopted = co_await offer.adopt(current.front());
        } catch (...) {
            failure = logErrorText(std::current_exception());
        }
        if (failure) {
            // Nothing was recorded into it: nothing to offer, now or at any later start.
            if (offer.holdsNothing) {
                // Named first: g++ 12 destroys the temporaries of an awaited call twice.
                auto looking = offer.holdsNothing(take.scratchPath);
                if (co_await std::move(looking)) {
                    auto removing = offer.markers.removeEmptyTake(take.scratchPath);
                    if (co_await std::move(removing)) continue;
                }
            }
            if (offer.debugLog) {
                co_await offer.debugLog->append("app_startup_pending_failed scratch=" + take.scratchPath +
                                                " error=" + *failure);
            }
            // Not tried again at every start; the movie stays for the user.
            co_await offer.markers.setAside(take.scratchPath, "not_adoptable");
            continue;
        }
        // Taken back during a quit, it stays pending, noted for the next start.
        if (!adopted || (offer.quitting && offer.quitting())) co_return;
        // Saved or discarded leave the session idle; anything else (a failed window, a recording
        // the user started meanwhile) leaves the rest for the next start.
        const RecordingSessionState after = co_await offer.present();
        if (!after.isIdle()) co_return;
    }
}

}  // namespace yux
