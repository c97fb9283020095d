#include "tools/AppendMovies.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "imagelist/FileSort.h"
#include "platform/movie/MovieReader.h"
#include "platform/system/Sound.h"
#include "render/MovieParts.h"
#include "render/RunTexts.h"
#include "settings/MovieName.h"

namespace fs = std::filesystem;

namespace mv {

std::string appendFailureMessage(int code)
{
    switch (code) {
    case kAppendFirstUnreadable: return "Can not read first movie";
    case kAppendOtherUnreadable: return "Can not read a secondary movie";
    case kAppendRateMismatch: return "Movie fps do not match";
    case kAppendSizeMismatch: return "Movie frame sizes do not match";
    case kAppendFailed: return "Can not append a movie";
    case kAppendWriteFailed: return "Can not write the appended movie";
    default: return {};
    }
}

AppendMovies::AppendMovies(FileDialogPort& dialogs, MainWindowPort& window, AlertPort& alerts)
    : dialogs_(dialogs), window_(window), alerts_(alerts), playSound_([] { playCompletionSound(false); }),
      beep_([] { beep(); })
{
}

int AppendMovies::appendMoviesCommand()
{
    const int code = appendMovie();
    window_.setProgress({});
    if (code != kAppendDone) {
        window_.setStatusText(" ");
        alerts_.alert("Append movies has failed.", refusal_.empty() ? appendFailureMessage(code) : refusal_);
    }
    return code;
}

int AppendMovies::appendMovie()
{
    outputPath_.clear();
    refusal_.clear();
    copied_ = encoded_ = 0;
    // AV1 movies are .mp4 files only.
    const std::vector<std::string> types = {"mov", "mp4"};

    FileDialogPort::SaveRequest save;
    save.title = "Enter the appended movie name";
    save.proposedName = "Appended Movie";
    save.extensions = types;
    const auto chosen = dialogs_.saveFile(save);
    if (!chosen)
        return kAppendDone;
    // The name alone first; the codec is known once the first movie is read.
    if (refusal_ = containerProblem(0, chosen->path); !refusal_.empty())
        return kAppendWrongContainer;
    const std::string output = numberedMoviePath(chosen->path);

    FileDialogPort::OpenRequest open;
    open.title = "Select the movies to append";
    open.message = "These movies will be appended in alphabetical order ";
    open.extensions = types;
    open.multipleFiles = true;
    open.canChooseFolders = false;
    std::optional<std::vector<std::string>> files = dialogs_.openFiles(open);
    // Nothing has been written yet, so a cancel leaves nothing to remove.
    if (!files || files->empty())
        return kAppendDone;
    // The message promises alphabetical order of the file names; not every
    // dialog returns its selection that way.
    std::stable_sort(files->begin(), files->end(), [](const std::string& a, const std::string& b) {
        return alphaCompare(fs::path(a).filename().string(), fs::path(b).filename().string()) < 0;
    });

    window_.setStatusText("Appending movies...");

    std::vector<std::unique_ptr<MovieReader>> movies;
    movies.push_back(MovieReader::open(files->front()));
    MovieReader* first = movies.front().get();
    if (!first || !first->scanFrames() || first->frames().empty())
        return kAppendFirstUnreadable;

    // The first frame's length gives the frame rate; a rate below one frame
    // a second is unusual enough to be pointed out, but not refused.
    const MovieReader::Frame& f0 = first->frames().front();
    if (f0.duration > 0 && double(first->timeScale()) / double(f0.duration) < 1.0 && beep_)
        beep_();

    for (std::size_t i = 1; i < files->size(); ++i) {
        auto movie = MovieReader::open((*files)[i]);
        if (!movie)
            return kAppendOtherUnreadable;
        if (movie->width() != first->width() || movie->height() != first->height())
            return kAppendSizeMismatch;
        if (!movie->scanFrames() || movie->frames().empty())
            return kAppendFailed;
        movies.push_back(std::move(movie));
    }

    // The parts of one movie (make --segment) join in part order, whatever
    // their names; a part missing, repeated or of another movie stops the
    // join before anything is written.
    std::vector<std::string> names, tags;
    for (std::size_t i = 0; i < movies.size(); ++i) {
        names.push_back(fs::path((*files)[i]).filename().string());
        tags.push_back(movies[i]->tag(kPartTagKey));
    }
    const PartOrder parts = orderParts(names, tags);
    if (!parts.refusal.empty()) {
        refusal_ = parts.refusal;
        return kAppendPartsRefused;
    }
    if (parts.parts) {
        std::vector<std::unique_ptr<MovieReader>> ordered;
        for (const std::size_t i : parts.order)
            ordered.push_back(std::move(movies[i]));
        movies = std::move(ordered);
        first = movies.front().get();
    }

    // The same rules as a new movie's, before anything is written. The
    // movie takes the first one's codec; one the writer does not make is
    // encoded as JPEG unless every movie is copied as it is.
    bool copyAll = true;
    for (const auto& m : movies)
        copyAll = copyAll && m->hasSameStreamFormat(*first);
    const std::string codecType = first->codecType().empty() && !copyAll ? "jpeg" : first->codecType();
    if (refusal_ = containerProblem(codecOfType(codecType), chosen->path); !refusal_.empty())
        return kAppendWrongContainer;
    if (!copyAll) {
        if (refusal_ = frameSizeProblem(codecType, first->width(), first->height()); !refusal_.empty())
            return kAppendFrameSizeRefused;
    }

    window_.setStatusText("Writing movie...");
    if (output.empty())
        return kAppendWriteFailed;
    std::vector<MovieReader*> readers;
    for (const auto& m : movies)
        readers.push_back(m.get());
    const auto start = std::chrono::steady_clock::now();
    window_.setProgress({0, -1});
    const AppendOutcome outcome = writeAppendedMovie(readers, output, [&](double part) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // As a count of thousandths, for the estimate from the third on.
        window_.setProgress(progressAt(seconds, unsigned(part * 1000), 1000));
    });
    if (outcome.status == AppendStatus::SourceFailed)
        return kAppendFailed;
    if (outcome.status == AppendStatus::WriteFailed)
        return kAppendWriteFailed;
    outputPath_ = outcome.path;
    copied_ = outcome.copiedMovies;
    encoded_ = outcome.encodedMovies;

    if (playSound_)
        playSound_();
    window_.setStatusText(" ");
    return kAppendDone;
}

} // namespace mv
