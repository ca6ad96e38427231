#pragma once

#include <cerrno>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/async/errors.hpp"

namespace yux::platform {

// A media step that failed, told twice: what() is the English sentence a user reads, cause() the
// library's own words ("Invalid argument"), which belong in the debug log only. A failure whose
// sentence is one of the export's fixed texts ("Encoder could not start") says so, so the caller
// reports it as a failure of its own rather than as a platform error.
class MediaFailure : public std::runtime_error {
public:
    MediaFailure(const std::string& sentence, std::string cause, bool fixedText = false)
        : std::runtime_error(sentence), cause_(std::move(cause)), fixedText_(fixedText) {}

    const std::string& cause() const { return cause_; }
    bool isFixedText() const { return fixedText_; }

private:
    std::string cause_;
    bool fixedText_;
};

// Something already stands at a path that was to be created (another program may have created it
// after the caller checked): callers report it as their own "already exists" case.
class OutputFileExistsError : public std::runtime_error {
public:
    explicit OutputFileExistsError(const std::string& path) : std::runtime_error("A file already exists at " + path + ".") {}
};

// A write to an output file failed; errorNumber() is the errno (ENOSPC for a full disk).
class OutputFileWriteError : public std::runtime_error {
public:
    OutputFileWriteError(const std::string& message, int errorNumber) : std::runtime_error(message), errorNumber_(errorNumber) {}
    int errorNumber() const { return errorNumber_; }

private:
    int errorNumber_;
};

// What users read when the exported movie cannot be written: a full disk says so.
inline std::string outputWriteSentence(int errorNumber) {
    if (errorNumber == ENOSPC || errorNumber == EDQUOT) return "The disk is full: the exported movie cannot be written.";
    return "The exported movie cannot be written.";
}

inline constexpr const char* kOutOfMemorySentence = "There is not enough memory to export the movie.";

// Runs one step. Whatever it throws becomes a MediaFailure with `sentence` and the thrown text as
// its cause, except cancellation and failures already told, which pass through.
template <typename Step>
auto toldAs(const std::string& sentence, bool fixedText, Step&& step) -> decltype(step()) {
    try {
        return step();
    } catch (const CancelledError&) {
        throw;
    } catch (const MediaFailure&) {
        throw;
    } catch (const OutputFileExistsError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw MediaFailure(kOutOfMemorySentence, "std::bad_alloc");
    } catch (const std::exception& error) {
        throw MediaFailure(sentence, error.what(), fixedText);
    }
}

}  // namespace yux::platform
