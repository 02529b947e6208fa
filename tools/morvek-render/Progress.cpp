#include "Progress.h"

#include "Interrupt.h"

#include <cmath>
#include <cstring>

namespace MorvekRender {

namespace {

const char* const kStages[] = {"reading", "rendering", "writing"};

std::string clockText(double seconds) {
    const long s = std::lround(seconds);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

} // namespace

ProgressLine::ProgressLine(bool shown, long frames, std::FILE* out)
    : shown_(shown), frames_(frames), out_(out), start_(Clock::now()), stageStart_(start_), lastDraw_(start_) {}

double ProgressLine::elapsed() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

void ProgressLine::startFrame() {
    stage_ = nullptr;
}

void ProgressLine::countStage() {
    const Clock::time_point now = Clock::now();
    for (int k = 0; k < 3; ++k) {
        if (stage_ && std::strcmp(stage_, kStages[k]) == 0) {
            seconds_[k] += std::chrono::duration<double>(now - stageStart_).count();
        }
    }
    stageStart_ = now;
}

void ProgressLine::stage(const char* what, const std::string& name) {
    countStage();
    stage_ = what;
    // The file's own name: a long folder would make the line wrap.
    const std::size_t slash = name.find_last_of("/\\");
    file_ = slash == std::string::npos ? name : name.substr(slash + 1);
    fraction_ = -1.0;
    draw();
}

void ProgressLine::fraction(double done) {
    fraction_ = done;
    if (shown_ && std::chrono::duration<double>(Clock::now() - lastDraw_).count() >= 0.1) {
        draw();
    }
}

void ProgressLine::endFrame() {
    countStage();
    stage_ = nullptr;
    ++done_;
    draw();
}

void ProgressLine::draw() {
    if (!shown_) {
        return;
    }
    lastDraw_ = Clock::now();
    const double seconds = elapsed();
    std::string text;
    char part[128];
    if (frames_ > 1) {
        const double fps = seconds > 0 ? static_cast<double>(done_) / seconds : 0.0;
        std::snprintf(part, sizeof part, "%ld/%ld frames  %.1f fps", done_, frames_, fps);
        text = part;
        if (done_ > 0) {
            text += "  " + clockText(static_cast<double>(frames_ - done_) / fps) + " left";
        }
    } else {
        text = clockText(seconds);
    }
    if (stage_) {
        text += "  " + std::string(stage_) + " " + file_;
        if (fraction_ >= 0.0) {
            std::snprintf(part, sizeof part, " %d%%", static_cast<int>(fraction_ * 100.0));
            text += part;
        }
    }
    const std::size_t length = text.size();
    if (length < drawn_) {
        text.append(drawn_ - length, ' ');
    }
    std::fprintf(out_, "\r%s", text.c_str());
    std::fflush(out_);
    drawn_ = length;
    setProgressLineOpen(true);
}

void ProgressLine::clear() {
    if (shown_ && drawn_ > 0) {
        std::fprintf(out_, "\r%s\r", std::string(drawn_, ' ').c_str());
        std::fflush(out_);
        drawn_ = 0;
        setProgressLineOpen(false);
    }
}

void ProgressLine::finish() {
    countStage();
    stage_ = nullptr;
    clear();
}

std::string ProgressLine::stageTimes() const {
    std::string text;
    for (int k = 0; k < 3; ++k) {
        char part[64];
        std::snprintf(part, sizeof part, "%s%s %.2f s", k ? ", " : "", kStages[k], seconds_[k]);
        text += part;
    }
    return text;
}

} // namespace MorvekRender
