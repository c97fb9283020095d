#include "app/BatchTools.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <thread>
#include <unistd.h>

#include "app/BatchOptions.h"
#include "platform/system/Sound.h"
#include "tools/AppendMovies.h"
#include "tools/Convert.h"

namespace fs = std::filesystem;

namespace mv {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;
extern "C" void onToolInterrupt(int) { gInterrupted = 1; }

// Splits options from operands; only -o/--output and -h/--help exist.
ToolRequest parseToolArguments(const std::vector<std::string>& args, bool takesOutput)
{
    ToolRequest request;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            request.inputs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            request.help = true;
        } else if (takesOutput && (arg == "-o" || arg == "--output")) {
            if (i + 1 >= args.size())
                throw UsageError{arg + " needs a value"};
            request.output = args[++i];
        } else if (takesOutput && arg.rfind("--output=", 0) == 0) {
            request.output = arg.substr(9);
        } else {
            throw UsageError{"unknown option " + arg};
        }
    }
    return request;
}

// What the window's panel and status line would show, on stderr: one line
// redrawn in place on a terminal, otherwise at most a line a second.
class ToolPorts : public AlertPort, public FileDialogPort, public MainWindowPort, public ConvertPanelPort {
public:
    ToolPorts(std::optional<std::string> save, std::vector<std::string> open)
        : save_(std::move(save)), open_(std::move(open)), tty_(::isatty(STDERR_FILENO))
    {
    }
    ~ToolPorts() override { endLine(); }

    AlertButton alert(const std::string& title, const std::string& message, bool) override
    {
        endLine();
        std::cerr << title;
        if (!message.empty() && message != " ")
            std::cerr << (title.empty() || title.back() == '.' ? " " : ": ") << message;
        std::cerr << '\n';
        return AlertButton::OK;
    }

    std::optional<std::vector<std::string>> chooseFiles(const std::string&, const std::string&,
                                                        const std::vector<std::string>&) override
    {
        return open_;
    }
    std::optional<SaveChoice> saveFile(const SaveRequest&) override
    {
        if (!save_)
            return std::nullopt;
        return SaveChoice{*save_};
    }

    void setStatusText(const std::string& text) override
    {
        if (text != " ")
            printLine(text, true);
    }

    void setImagesText(const std::string& t) override { update(images_, t); }
    void setTimeText(const std::string& t) override { update(time_, t); }
    void setSizeText(const std::string& t) override { update(size_, t); }
    void hide() override
    {
        if (!tty_ && !unprinted_.empty()) // the last state, which the rate limit held back
            std::cerr << unprinted_ << '\n';
        unprinted_.clear();
        endLine();
    }

    void endLine()
    {
        if (tty_ && drawn_)
            std::cerr << '\n';
        drawn_ = false;
    }

private:
    void update(std::string& field, const std::string& text)
    {
        field = text;
        std::string line = images_;
        for (const std::string* part : {&size_, &time_})
            if (part->find_first_of("0123456789-") != std::string::npos) // a label with a value
                line += "  " + *part;
        printLine(line, false);
    }

    void printLine(const std::string& line, bool always)
    {
        if (tty_) {
            std::cerr << "\r\033[K" << line << std::flush;
            drawn_ = true;
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!always && now - lastPrint_ < std::chrono::seconds(1)) {
            unprinted_ = line;
            return;
        }
        unprinted_.clear();
        lastPrint_ = now;
        std::cerr << line << '\n';
    }

    std::optional<std::string> save_;
    std::vector<std::string> open_;
    bool tty_;
    bool drawn_ = false;
    std::string images_, time_, size_;
    std::string unprinted_;
    std::chrono::steady_clock::time_point lastPrint_{};
};

bool checkInputs(const char* command, const std::vector<std::string>& files)
{
    for (const std::string& f : files) {
        std::error_code ec;
        if (!fs::is_regular_file(f, ec)) {
            std::cerr << "moirevance " << command << ": " << f << ": no such file\n";
            return false;
        }
    }
    return true;
}

} // namespace

ToolRequest parseAppendArguments(const std::vector<std::string>& args)
{
    ToolRequest r = parseToolArguments(args, true);
    if (r.help)
        return r;
    if (r.output.empty())
        throw UsageError{"no movie file given (-o PATH)"};
    if (r.inputs.empty())
        throw UsageError{"no movies given"};
    return r;
}

ToolRequest parseFramesArguments(const std::vector<std::string>& args)
{
    ToolRequest r = parseToolArguments(args, false);
    if (r.help)
        return r;
    if (r.inputs.size() != 2)
        throw UsageError{"needs a movie and a base path for the frames"};
    return r;
}

std::string appendUsage()
{
    return "Usage: moirevance append -o OUTPUT.mov MOVIE.mov...\n"
           "Writes the movies one after another into one new movie, in alphabetical order\n"
           "of their file names. All must have the same frame size. The packets are copied\n"
           "when the movies share codec and format; otherwise the others are encoded in\n"
           "the first movie's codec. The parts of one movie (make --segment K/N) are\n"
           "joined in part order, whatever their names; a part missing, given twice or made\n"
           "by another job is named and nothing is written.\n"
           "\n"
           "  -o, --output PATH     the movie to write: .mov, or .mp4 when the first movie is\n"
           "                        H.264, HEVC or AV1 (AV1 only .mp4); an existing file is\n"
           "                        kept and the movie is written as PATH-1.mov, -2.mov ...\n"
           "  -h, --help            show this help\n"
           "\n"
           "Exit status: 0 when a movie was written, 1 when none was, 2 for a usage error.\n";
}

std::string framesUsage()
{
    return "Usage: moirevance frames MOVIE FOLDER/NAME\n"
           "Saves every frame of the movie (mov, mp4, m4v, avi) as FOLDER/NAME-1.tiff,\n"
           "NAME-2.tiff ... Ctrl-C stops after the frame being written and keeps the files.\n"
           "\n"
           "  -h, --help            show this help\n"
           "\n"
           "Exit status: 0 when every frame was saved, 1 when the conversion failed or was\n"
           "stopped, 2 for a usage error.\n";
}

std::string toolsUsage()
{
    return "       moirevance append -o OUTPUT.mov MOVIE.mov...\n"
           "       moirevance frames MOVIE FOLDER/NAME\n";
}

int runAppend(const std::vector<std::string>& args)
{
    ToolRequest request;
    try {
        request = parseAppendArguments(args);
    } catch (const UsageError& e) {
        std::cerr << "moirevance append: " << e.message << "\n\n" << appendUsage();
        return 2;
    }
    if (request.help) {
        std::cout << appendUsage();
        return 0;
    }
    if (!checkInputs("append", request.inputs))
        return 2;
    std::vector<std::string> inputs;
    for (const std::string& in : request.inputs)
        inputs.push_back(fs::absolute(in).string());

    ToolPorts ports(fs::absolute(request.output).string(), inputs);
    AppendMovies tool(ports, ports, ports);
    tool.setCompletionSound([] { playCompletionSound(true); });
    // A name that cannot hold the movie's codec is a usage error, as for make.
    if (const int code = tool.appendMoviesCommand(); code != kAppendDone)
        return code == kAppendWrongContainer ? 2 : 1;
    return printWrittenPaths({tool.outputPath()}) ? 0 : 1;
}

int runFrames(const std::vector<std::string>& args)
{
    ToolRequest request;
    try {
        request = parseFramesArguments(args);
    } catch (const UsageError& e) {
        std::cerr << "moirevance frames: " << e.message << "\n\n" << framesUsage();
        return 2;
    }
    if (request.help) {
        std::cout << framesUsage();
        return 0;
    }
    if (!checkInputs("frames", {request.inputs[0]}))
        return 2;
    const fs::path base = fs::absolute(request.inputs[1]);
    std::error_code ec;
    if (base.filename().empty() || !fs::is_directory(base.parent_path(), ec)) {
        std::cerr << "moirevance frames: " << base.parent_path().string() << ": no such folder\n";
        return 2;
    }

    ToolPorts ports(base.string(), {fs::absolute(request.inputs[0]).string()});
    Convert convert(ports, ports, ports);
    convert.setCompletionSound([] { playCompletionSound(true); });

    struct sigaction action {};
    action.sa_handler = onToolInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    if (!convert.selectMovie())
        return 1;
    // Ctrl-C acts as the panel's stop control: the files so far are kept.
    while (convert.isPanelVisible()) {
        if (gInterrupted)
            convert.stopConversion();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    convert.waitForWorker();
    ports.endLine();
    const auto files = convert.writtenFiles();
    const bool printed = printWrittenPaths(files);
    if (!convert.wasCompleted()) {
        if (gInterrupted)
            std::cerr << "Stopped: " << files.size() << " of " << convert.numFrames() << " frames saved\n";
        return 1;
    }
    return printed ? 0 : 1;
}

} // namespace mv
