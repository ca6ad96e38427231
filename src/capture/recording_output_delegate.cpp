#include "capture/recording_output_delegate.hpp"

#include <cstdint>
#include <coroutine>
#include <future>

#include "model/app_error.hpp"
#include "model/log_text.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/async/sleep.hpp"
#include "platform/media/host_clock.hpp"

namespace yux {

using platform::MediaTime;
using platform::MovieTrackFormat;
using platform::MovieWriter;
using platform::MovieWriterStatus;
using platform::SampleBuffer;

namespace {

std::string labelOf(RecordingSourceKind kind) {
    switch (kind) {
        case RecordingSourceKind::screen: return "Screen";
        case RecordingSourceKind::camera: return "Camera";
        case RecordingSourceKind::systemAudio: return "System audio";
        case RecordingSourceKind::microphone: return "Microphone";
        case RecordingSourceKind::audio: return "Audio";
    }
    return "Audio";
}

std::string secondsText(MediaTime time) { return logNumber(time.seconds()); }

// The library's own account of a writer error, for the debug log.
std::string detailOf(const std::exception_ptr& error) {
    if (!error) return "none";
    try {
        std::rethrow_exception(error);
    } catch (const platform::MovieWriterError& e) {
        return e.detail();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

std::exception_ptr outputFailure(std::string detail) {
    return std::make_exception_ptr(AppError::outputFinalizationFailed(std::move(detail)));
}

// What people read after the movie's writing failed: the cause, then what became of the take.
std::string writerFailureText(const std::exception_ptr& error, bool kept) {
    std::string cause = "The movie could not be written.";
    try {
        if (error) std::rethrow_exception(error);
    } catch (const platform::MovieWriterError& e) {
        cause = e.what();
    } catch (...) {
    }
    return cause + (kept ? " The recording stopped, and " + std::string(RecordingOutputDelegate::kKeptEnding)
                         : std::string(" The recording stopped."));
}

MovieTrackFormat formatOf(RecordingSourceKind kind, int width, int height, double frameRate) {
    if (isAudio(kind)) return MovieTrackFormat::audio(trackTitle(kind));
    // The camera keeps its own pace; the nominal rate is the screen's.
    if (kind == RecordingSourceKind::camera) return MovieTrackFormat::videoWithStackedAlpha(trackTitle(kind), width, height);
    return MovieTrackFormat::video(trackTitle(kind), width, height).withFrameRate(frameRate);
}

// A missing, zero or absurdly long frame interval counts as one frame at 60 fps.
MediaTime usableInterval(MediaTime interval) {
    if (!interval.isValid() || interval.value <= 0 || interval.value > INT32_MAX) {
        return RecordingOutputDelegate::kFrameDuration;
    }
    return interval;
}

// Frames per second of a frame interval, as a time whose seconds are the frames.
MediaTime rateOf(MediaTime interval) {
    interval = usableInterval(interval);
    return MediaTime(interval.timescale, static_cast<std::int32_t>(interval.value));
}

// Keeps the delays of the pictures that came within kDelayWindow of `reached`.
void forgetOldDelays(std::deque<std::pair<MediaTime, MediaTime>>& delays, MediaTime reached) {
    const MediaTime oldest = reached - RecordingOutputDelegate::kDelayWindow;
    while (!delays.empty() && delays.front().first < oldest) delays.pop_front();
}

// Where a sound sample ends.
MediaTime endOf(const SampleBuffer& sample) {
    if (sample.duration.isValid() && sample.duration.value > 0) return sample.presentationTime + sample.duration;
    const auto* audio = sample.audio();
    if (audio != nullptr && audio->sampleRate > 0) {
        return sample.presentationTime + MediaTime(static_cast<std::int64_t>(audio->frameCount()), audio->sampleRate);
    }
    return sample.presentationTime;
}

}  // namespace

// Whoever waits for a finish: told its outcome once, from whichever thread ends it.
struct RecordingOutputDelegate::Continuation {
    std::function<void(std::exception_ptr)> done;
    void resume(std::exception_ptr result) { done(std::move(result)); }
};

RecordingOutputDelegate::Clock RecordingOutputDelegate::Clock::live() {
    Clock clock;
    clock.hostNow = [] { return platform::hostTimeNow(); };
    clock.now = [] { return std::chrono::steady_clock::now(); };
    clock.sleep = [](std::chrono::milliseconds duration, platform::CancelToken token) {
        return platform::sleepFor(duration, std::move(token));
    };
    clock.after = [](platform::SerialQueue& queue, std::chrono::milliseconds delay, std::function<void()> work) {
        queue.asyncAfter(delay, std::move(work));
    };
    return clock;
}

std::shared_ptr<RecordingOutputDelegate> RecordingOutputDelegate::open(const std::string& path, int width, int height,
                                                                       bool microphone, bool camera, Clock clock,
                                                                       MediaTime frameInterval) {
    return open(MovieWriter::create(path, platform::ExclusiveOutputFile::CommitOperations::unsynced()), width, height,
                microphone, camera, std::move(clock), frameInterval);
}

std::shared_ptr<RecordingOutputDelegate> RecordingOutputDelegate::open(std::shared_ptr<MovieWriter> writer, int width,
                                                                       int height, bool microphone, bool camera,
                                                                       Clock clock, MediaTime frameInterval) {
    const MediaTime rate = rateOf(frameInterval);
    const double frameRate = rate.seconds();
    // The shortest decimal text that reads back as the same number: "60", "29.97002997002997".
    writer->setMetadata(std::string(platform::kNominalScreenFrameRateKey), rate.secondsText());
    std::map<RecordingSourceKind, int> inputs;
    for (auto kind : kAllRecordingSourceKinds) {
        if (kind == RecordingSourceKind::audio) continue;
        if (kind == RecordingSourceKind::microphone && !microphone) continue;
        if (kind == RecordingSourceKind::camera && !camera) continue;
        const int track = writer->addTrack(formatOf(kind, width, height, frameRate));
        if (track < 0) {
            writer->cancelWriting();  // removes the file the writer created
            throw AppError::outputFinalizationFailed("Cannot record " + labelOf(kind));
        }
        inputs[kind] = track;
    }
    if (!writer->startWriting()) {
        auto error = writer->error();
        writer->cancelWriting();
        if (error) std::rethrow_exception(error);
        throw AppError::outputFinalizationFailed("Cannot start source writer");
    }
    return std::make_shared<RecordingOutputDelegate>(std::move(writer), std::move(inputs), std::move(clock),
                                                     usableInterval(frameInterval));
}

std::exception_ptr RecordingOutputDelegate::writerFailure(const std::exception_ptr& error) const {
    return outputFailure(writerFailureText(error, received_.contains(RecordingSourceKind::screen)));
}

// The first fault of a source is logged when it comes; a device with a broken clock would
// otherwise log every sample, so the rest are counted and told once, when the take stops.
void RecordingOutputDelegate::logClockFaults() {
    for (const auto& [kind, count] : clockFaults_) {
        if (count > 1) log("source_writer_clock_faults kind=" + labelOf(kind) + " count=" + std::to_string(count));
    }
    clockFaults_.clear();
}

RecordingOutputDelegate::RecordingOutputDelegate(std::shared_ptr<MovieWriter> writer,
                                                 std::map<RecordingSourceKind, int> inputs, Clock clock,
                                                 MediaTime frameInterval)
    : writer_(std::move(writer)),
      inputs_(std::move(inputs)),
      frameInterval_(usableInterval(frameInterval)),
      clock_(std::move(clock)) {}

void RecordingOutputDelegate::stream(const SampleBuffer& sample, platform::StreamOutputType type) {
    if (failure_ || !sample.isValid() || !sample.dataReady) return;
    switch (type) {
        case platform::StreamOutputType::screen:
            // Only a complete frame carries a new picture; idle and blank ones repeat nothing.
            if (sample.frameStatus == platform::FrameStatus::complete) receive(sample, RecordingSourceKind::screen);
            break;
        case platform::StreamOutputType::audio: receive(sample, RecordingSourceKind::systemAudio); break;
        case platform::StreamOutputType::microphone: receive(sample, RecordingSourceKind::microphone); break;
    }
}

void RecordingOutputDelegate::setFailure(std::exception_ptr error) {
    if (!failure_) failure_ = std::move(error);
}

bool RecordingOutputDelegate::isClockFault(const SampleBuffer& sample, RecordingSourceKind kind) {
    const MediaTime pts = sample.presentationTime;
    const MediaTime now = clock_.hostNow();
    const auto end = end_.copy();
    const bool pastNow = pts > now + kClockFaultTolerance;
    const bool pastEnd = end && pts > *end + kClockFaultTolerance;
    if (!pastNow && !pastEnd) return false;
    if (clockFaults_[kind]++ == 0) {
        log("source_writer_clock_fault kind=" + labelOf(kind) + " timestamp=" + secondsText(pts) + " now=" +
            secondsText(now) + (end ? " end=" + secondsText(*end) : std::string()));
    }
    return true;
}

void RecordingOutputDelegate::skipFrame(RecordingSourceKind kind, std::exception_ptr error) {
    if (failure_ || !inputs_.contains(kind)) return;
    auto& lost = losses_[kind];
    lost.framesSkipped += 1;
    skipErrors_[kind] = error;
    if (losing_.insert(kind).second) {
        log("source_writer_frame_skipped kind=" + labelOf(kind) + " skipped=" + std::to_string(lost.framesSkipped) +
            " error=" + detailOf(error));
    }
}

void RecordingOutputDelegate::silenceSource(RecordingSourceKind kind) {
    if (isAudio(kind) && kind != RecordingSourceKind::systemAudio && inputs_.contains(kind)) silenced_.insert(kind);
}

void RecordingOutputDelegate::receive(const SampleBuffer& sample, RecordingSourceKind kind) {
    if (failure_) return;
    // A kind without a track (a stray camera frame) has nowhere to go, and a frame of it kept
    // as the newest picture would hold up every finish.
    if (!inputs_.contains(kind) || silenced_.contains(kind)) return;
    if (isClockFault(sample, kind)) return;
    const MediaTime now = clock_.hostNow();
    placeAhead(now, kind);
    if (failure_) return;
    if (!isAudio(kind) && start_ && sample.presentationTime >= now) {  // until the clock passes it
        ahead_[kind] = sample;
        return;
    }
    place(sample, kind);
    if (kind == RecordingSourceKind::systemAudio) repeatStill();
    if (kind != RecordingSourceKind::systemAudio || silenced_.empty() || sample.audio() == nullptr) return;
    // As much silence for each failed source as system audio brought sound.
    auto silence = *sample.audio();
    if (!silence_ || silence_->size() != silence.bytes->size()) {
        silence_ = std::make_shared<const std::vector<std::uint8_t>>(silence.bytes->size(), std::uint8_t{0});
    }
    silence.bytes = silence_;
    SampleBuffer quiet = sample;
    quiet.payload = silence;
    for (auto silenced : silenced_) {
        if (failure_) return;
        place(quiet, silenced);
    }
}

void RecordingOutputDelegate::place(const SampleBuffer& sample, RecordingSourceKind kind) {
    const MediaTime pts = sample.presentationTime;
    const auto end = end_.copy();
    if (end && pts >= *end) return;  // taken after the stop
    if (kind == RecordingSourceKind::systemAudio) {
        const MediaTime reaches = endOf(sample);
        if (!heard_ || reaches > *heard_) heard_ = reaches;
    } else if (!isAudio(kind)) {
        // Shown as the newest picture, an older one would go back in time with the repeats.
        if (outOfOrder(sample, kind)) return;
        if (start_ && grid_ && !failure_) {
            if (const auto reached = soundReached()) repeatNewest(kind, *reached, pts);
        }
        lastVideo_[kind] = sample;
        progress_[kind].newestTaken = false;
        progress_[kind].changedAt = pts;
        if (kind == RecordingSourceKind::screen && !grid_) grid_.emplace(pts, frameInterval_);
        if (heard_) {
            // How late the picture came, against the sound heard so far (ahead of the host
            // clock, sound counts only as far as now).
            const MediaTime now = clock_.hostNow();
            const MediaTime reached = *heard_ < now ? *heard_ : now;
            auto& delays = progress_[kind].delays;
            delays.emplace_back(reached, reached > pts ? reached - pts : MediaTime(0, 1));
            forgetOldDelays(delays, reached);
        }
    }
    if (start_) {
        // Sound that began just before the start is written from the start on: the writer cuts it there.
        const bool reachesStart = isAudio(kind) && sample.duration.isValid() && pts + sample.duration > *start_;
        if (pts >= *start_ || reachesStart) append(sample, kind);
        return;
    }
    const bool hasScreen = lastVideo_.contains(RecordingSourceKind::screen);
    const bool needsCamera = inputs_.contains(RecordingSourceKind::camera);
    if (!hasScreen || (needsCamera && !lastVideo_.contains(RecordingSourceKind::camera))) return;
    writer_->startSession(pts);
    start_ = pts;
    // Every video track begins at the start with its newest picture.
    for (const auto& [videoKind, frame] : lastVideo_) {
        auto copy = frame.retimed(*start_, kFrameDuration);
        if (!copy.isValid()) {
            setFailure(outputFailure("Cannot timestamp video frame"));
            break;
        }
        append(copy, videoKind);
    }
}

void RecordingOutputDelegate::placeAhead(std::optional<MediaTime> now, std::optional<RecordingSourceKind> coming) {
    for (auto held = ahead_.begin(); held != ahead_.end();) {
        if (now && held->second.presentationTime >= *now && held->first != coming) {
            ++held;
            continue;
        }
        const auto [kind, picture] = *held;
        held = ahead_.erase(held);
        place(picture, kind);
    }
}

MediaTime RecordingOutputDelegate::repeatLag(RecordingSourceKind kind, MediaTime reached) {
    MediaTime lag = kRepeatLag;
    auto& delays = progress_[kind].delays;
    forgetOldDelays(delays, reached);
    for (const auto& [when, delay] : delays) {
        if (delay + kDelayMargin > lag) lag = delay + kDelayMargin;
    }
    return lag;
}

bool RecordingOutputDelegate::outOfOrder(const SampleBuffer& sample, RecordingSourceKind kind) {
    const auto& captured = progress_[kind].captured;
    return captured && sample.presentationTime <= *captured;
}

std::int64_t RecordingOutputDelegate::forgetPicturesOut(RecordingSourceKind kind) {
    auto& progress = progress_[kind];
    const std::int64_t out = progress.appended - writer_->picturesHeld(inputs_.at(kind));
    while (!progress.inside.empty() && progress.inside.front().first <= out) progress.inside.pop_front();
    return out;
}

// Where the sound taken so far reaches; sound stamped ahead of the host clock counts only as far
// as now, so it does not draw the pictures after it.
std::optional<MediaTime> RecordingOutputDelegate::soundReached() const {
    if (!heard_) return std::nullopt;
    const MediaTime now = clock_.hostNow();
    return *heard_ < now ? *heard_ : now;
}

void RecordingOutputDelegate::repeatStill() {
    if (!start_ || !grid_ || failure_ || end_.copy()) return;
    const auto reached = soundReached();
    if (!reached) return;
    for (const auto& entry : lastVideo_) {
        repeatNewest(entry.first, *reached, std::nullopt);
        if (failure_) return;
    }
}

void RecordingOutputDelegate::repeatNewest(RecordingSourceKind kind, MediaTime reached,
                                           std::optional<MediaTime> coming) {
    const auto picture = lastVideo_.find(kind);
    const auto written = lastWritten_.find(kind);
    if (picture == lastVideo_.end() || written == lastWritten_.end()) return;
    const MediaTime due = reached - repeatLag(kind, reached);
    const std::int64_t out = forgetPicturesOut(kind);
    const auto& progress = progress_[kind];
    const std::int64_t limit = grid_->slotAtOrBefore(due);
    // Never before the picture's own time (one a busy track refused is newer than the last written).
    const MediaTime& shown = picture->second.presentationTime;
    std::int64_t next = grid_->slotAtOrBefore(shown > written->second ? shown : written->second) + 1;
    // A picture about to come shuts the repeats out until the sound has passed its slot: what
    // would wait too long by then goes out now.
    MediaTime by = due;
    if (coming && *coming + frameInterval_ > by) by = *coming + frameInterval_;
    // Pictures up to a captured one still inside the writer: each needs one more behind it to
    // come out. A still track pushes out its newest, a changing one those that would wait too
    // long by `when`; the rest go out with its next pictures. Until the writer lets out its first
    // picture its encoder fills and keeps every picture it takes, so how many more one needs is
    // not known yet: every free slot.
    const bool filling = out == 0;
    auto needed = [&](MediaTime when, bool all) -> std::int64_t {
        for (auto held = progress.inside.rbegin(); held != progress.inside.rend(); ++held) {
            if (all || when >= held->second + kLongestWait) return filling ? limit - next + 1 : held->first - out;
        }
        return 0;
    };
    const bool still = !coming && (!progress.changedAt || due >= *progress.changedAt + kStillTime);
    std::int64_t repeats = needed(by, still);
    bool roomForChange = coming.has_value();
    if (repeats <= 0) {
        // Nothing captured to push out yet: one repeat per spacing, on the last slot due.
        const MediaTime spacing = kRepeatSpacing > frameInterval_ ? kRepeatSpacing : frameInterval_;
        if (coming || limit < next || grid_->slot(limit) < written->second + spacing) return;
        // That takes the last free slot: what a change coming now would hold up goes out instead.
        repeats = needed(reached + frameInterval_, false);
        roomForChange = repeats > 0;
        if (!roomForChange) {
            next = limit;
            repeats = 1;
        }
    }
    // A repeat never takes the room of the picture that is coming.
    if (roomForChange) repeats = std::min<std::int64_t>(repeats, writer_->room(inputs_.at(kind)) - 1);
    for (; repeats > 0 && next <= limit; --repeats, ++next) {
        auto copy = picture->second.retimed(grid_->slot(next), kFrameDuration);
        if (!copy.isValid() || !write(copy, kind, true)) break;
    }
}

void RecordingOutputDelegate::append(const SampleBuffer& sample, RecordingSourceKind kind) { write(sample, kind, false); }

bool RecordingOutputDelegate::write(const SampleBuffer& original, RecordingSourceKind kind, bool repeat) {
    auto input = inputs_.find(kind);
    if (input == inputs_.end()) return false;
    const SampleBuffer* sample = &original;
    auto last = lastWritten_.find(kind);
    SampleBuffer moved;
    // Times of a video track strictly increase. A captured picture that comes after a repeat
    // took its time goes on the first slot after that repeat rather than be lost; one older
    // than the newest captured picture is out of order.
    if (!isAudio(kind) && last != lastWritten_.end() && original.presentationTime <= last->second) {
        if (repeat || !grid_ || outOfOrder(original, kind)) return false;
        moved = original.retimed(grid_->slot(grid_->slotAtOrBefore(last->second) + 1), kFrameDuration);
        if (!moved.isValid()) return false;
        sample = &moved;
    }
    const MediaTime pts = sample->presentationTime;
    if (writer_->isReadyForMoreMediaData(input->second)) {
        // A repeat of the picture the writer took last needs no new conversion.
        const bool again = repeat && progress_[kind].newestTaken;
        if (again ? writer_->appendAgain(input->second, *sample) : writer_->append(input->second, *sample)) {
            lastWritten_[kind] = pts;
            received_.insert(kind);
            losing_.erase(kind);
            if (!isAudio(kind)) {
                auto& progress = progress_[kind];
                // A repeat of a picture the writer never took brings it a captured picture too.
                const bool newPicture = !repeat || !progress.newestTaken;
                progress.appended += 1;
                progress.newestTaken = true;
                if (newPicture) {
                    progress.inside.emplace_back(progress.appended, pts);
                    if (!progress.changedAt || pts > *progress.changedAt) progress.changedAt = pts;
                    forgetPicturesOut(kind);
                }
                // Its own time, not where it went: the rest of a late burst follows it in order.
                if (!repeat) progress.captured = original.presentationTime;
            }
            return true;
        }
        const auto error = writer_->error();
        log("source_writer_failed kind=" + labelOf(kind) + " timestamp=" + secondsText(pts) + " previous=" +
            (last != lastWritten_.end() ? secondsText(last->second) : "-1.0") +
            " start=" + (start_ ? secondsText(*start_) : "-1.0") + " error=" + detailOf(error));
        if (!writerError_) writerError_ = error;
        setFailure(writerFailure(error));
        return false;
    }
    // A busy track loses the sample and the take goes on: the writer fills a hole in the sound
    // with silence when the next buffer comes.
    if (!isAudio(kind)) return false;
    auto& lost = losses_[kind];
    lost.audioBuffersDropped += 1;
    if (losing_.insert(kind).second) {
        log("source_writer_audio_dropped kind=" + labelOf(kind) + " timestamp=" + secondsText(pts) +
            " dropped=" + std::to_string(lost.audioBuffersDropped));
    }
    return false;
}

QCoro::Task<void> RecordingOutputDelegate::waitForStart(platform::CancelToken token) {
    const auto deadline = clock_.now() + kStartTimeout;
    while (clock_.now() < deadline) {
        const bool started = queue_.sync([this] {
            if (failure_) std::rethrow_exception(failure_);
            auto has = [this](RecordingSourceKind kind) { return received_.contains(kind) || silenced_.contains(kind); };
            auto expects = [this](RecordingSourceKind kind) { return inputs_.contains(kind); };
            return has(RecordingSourceKind::screen) &&
                   (!expects(RecordingSourceKind::camera) || has(RecordingSourceKind::camera)) &&
                   (!expects(RecordingSourceKind::microphone) || has(RecordingSourceKind::microphone));
        });
        if (started) co_return;
        co_await clock_.sleep(kStartPollInterval, token);
    }
    // A source whose every picture could not be made says why.
    const auto missing = queue_.sync([this] {
        for (const auto& [kind, error] : skipErrors_) {
            if (!received_.contains(kind)) return error;
        }
        return std::exception_ptr();
    });
    if (missing) std::rethrow_exception(missing);
    throw AppError::outputFinalizationFailed("Capture did not deliver video");
}

QCoro::Task<void> RecordingOutputDelegate::finish() {
    struct Awaiter {
        RecordingOutputDelegate* self;
        MediaTime end;
        std::shared_ptr<std::exception_ptr> error = std::make_shared<std::exception_ptr>();

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) {
            auto continuation = std::make_shared<Continuation>();
            // The caller resumes on the main thread.
            continuation->done = [error = error, handle](std::exception_ptr result) {
                *error = std::move(result);
                platform::postToMain([handle] { handle.resume(); });
            };
            self->queue_.async([self = self, end = end, continuation] {
                self->logClockFaults();
                self->finishAt(end, self->clock_.now() + kDrainTimeout, continuation);
            });
        }
        void await_resume() const {
            if (*error) std::rethrow_exception(*error);
        }
    };
    // From now on nothing taken after the stop is kept, nor encoded by the writer.
    const MediaTime end = markEnd();
    // A named awaiter: GCC 12 mishandles the lifetime of a temporary one across the suspension.
    Awaiter awaiter{this, end};
    co_await awaiter;
}

// The clock is read under the lock through which place() reads the end. A picture held back in
// ahead_ is released once the clock has passed it, so it either lies before this end or finds
// the end set and is left out. The next picture of its track releases it sooner, and a stop
// before its time would then find it written; today's sources never let that happen: only the
// screen stamps ahead of the clock, by at most half a frame, and it takes its next picture no
// sooner than half a frame after the held one's time, so the clock has passed that by then.
MediaTime RecordingOutputDelegate::markEnd() {
    const MediaTime end = end_.with([this](std::optional<MediaTime>& value) {
        value = clock_.hostNow();
        return *value;
    });
    writer_->endSession(end);
    return end;
}

void RecordingOutputDelegate::finishNow(std::chrono::milliseconds limit) {
    const MediaTime end = markEnd();
    auto finished = std::make_shared<std::promise<void>>();
    auto outcome = finished->get_future();
    auto continuation = std::make_shared<Continuation>();
    continuation->done = [finished](std::exception_ptr) { finished->set_value(); };
    const auto deadline = clock_.now() + limit;
    queue_.async([this, end, deadline, continuation] {
        logClockFaults();
        finishAt(end, deadline, continuation);
    });
    outcome.wait_for(limit);
}

void RecordingOutputDelegate::abandon(std::shared_ptr<Continuation> continuation, std::exception_ptr error) {
    writer_->cancelWriting();
    lastVideo_.clear();
    ahead_.clear();
    continuation->resume(std::move(error));
}

// The take stops at the failure; the movie keeps what reached it. Whether a picture did is
// known once the writer has closed the file: a movie without one is gone, and says so.
void RecordingOutputDelegate::keepWritten(std::shared_ptr<Continuation> continuation, std::exception_ptr error) {
    lastVideo_.clear();
    ahead_.clear();
    for (const auto& [kind, track] : inputs_) writer_->markAsFinished(track);
    writer_->finishWriting([writer = writer_, cause = writerError_, continuation, error] {
        if (cause && !writer->keepsPicture()) return continuation->resume(outputFailure(writerFailureText(cause, false)));
        continuation->resume(error);
    });
}

// Only a cancelled take, or one without a single picture, leaves nothing behind.
void RecordingOutputDelegate::endFailed(std::shared_ptr<Continuation> continuation, std::exception_ptr error) {
    if (cancelled_ || !received_.contains(RecordingSourceKind::screen)) return abandon(continuation, error);
    keepWritten(continuation, error);
}

void RecordingOutputDelegate::finishAt(MediaTime end, std::chrono::steady_clock::time_point deadline,
                                       std::shared_ptr<Continuation> continuation) {
    // Pictures held back for being ahead of the clock: those before the end are the track's newest.
    if (!failure_) placeAhead(std::nullopt, std::nullopt);
    if (failure_) return endFailed(continuation, failure_);
    if (!start_) return abandon(continuation, outputFailure("Capture produced no video"));

    for (const auto& entry : lastVideo_) {
        auto input = inputs_.find(entry.first);
        if (input != inputs_.end() && writer_->isReadyForMoreMediaData(input->second)) continue;
        if (clock_.now() >= deadline) return endFailed(continuation, outputFailure("Video writer did not drain"));
        clock_.after(queue_, kDrainRetryInterval,
                     [this, end, deadline, continuation] { finishAt(end, deadline, continuation); });
        return;
    }

    // Each video track shows its newest picture up to the stop, and closes on it within the
    // last frame: one frame after the picture, or the picture itself where the track refused it.
    const MediaTime tailFloor = end - kFrameDuration;
    for (const auto& [kind, frame] : lastVideo_) {
        const MediaTime from = frame.presentationTime + (progress_[kind].newestTaken ? kFrameDuration : MediaTime(0, 1));
        const MediaTime t = from > tailFloor ? from : tailFloor;
        if (t >= end) continue;
        auto copy = frame.retimed(t, kFrameDuration);
        // Without its tail (a copy that cannot be made, or one the writer refuses) the take
        // still keeps every picture and sound written before the stop.
        if (!copy.isValid()) return endFailed(continuation, outputFailure("Cannot timestamp video frame"));
        append(copy, kind);
    }
    lastVideo_.clear();
    if (failure_) return endFailed(continuation, failure_);
    // Every picture met a busy track, the tail's too: sound alone is no take, and nothing stays,
    // whatever finishing the movie would have said.
    if (!received_.contains(RecordingSourceKind::screen)) {
        return abandon(continuation, outputFailure("Capture produced no video"));
    }

    writer_->endSession(end);
    for (const auto& [kind, track] : inputs_) writer_->markAsFinished(track);
    writer_->finishWriting([writer = writer_, continuation] {
        if (writer->status() == MovieWriterStatus::completed) return continuation->resume(nullptr);
        auto error = writer->error();
        // A writer that failed while finishing keeps what it wrote when a picture reached the file.
        continuation->resume(error ? outputFailure(writerFailureText(error, writer->keepsPicture()))
                                   : outputFailure("Source recording did not finalize"));
    });
}

int RecordingOutputDelegate::cancel() {
    return queue_.sync([this] {
        logClockFaults();
        failure_ = std::make_exception_ptr(platform::CancelledError());
        cancelled_ = true;
        // A writer that failed still holds a partial movie; a cancelled take keeps nothing.
        const auto status = writer_->status();
        if (status == MovieWriterStatus::writing || status == MovieWriterStatus::failed) writer_->cancelWriting();
        lastVideo_.clear();
        ahead_.clear();
        return static_cast<int>(writer_->status());
    });
}

}  // namespace yux
