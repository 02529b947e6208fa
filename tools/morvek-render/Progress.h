// The line morvek-render keeps on a terminal while it works: the frame and
// the stage it is at (reading, rendering, writing), how far that stage has
// come, the time so far and, for sequences, the frames done, the rate and the
// time left. The time of each stage is kept whether or not the line is shown,
// for the summary.
#ifndef MORVEK_RENDER_PROGRESS_H
#define MORVEK_RENDER_PROGRESS_H

#include <chrono>
#include <cstdio>
#include <string>

namespace MorvekRender {

class ProgressLine {
public:
    // `shown`: draw the line on `out` (a terminal). `frames`: how many
    // frames the run has.
    ProgressLine(bool shown, long frames, std::FILE* out = stderr);

    void startFrame();
    // A new stage of the current frame, on the file `name`; the previous
    // stage's time is counted.
    void stage(const char* what, const std::string& name);
    // How far the current stage has come; the line is redrawn at most ten
    // times a second.
    void fraction(double done);
    void endFrame();

    // Takes the line off the terminal before other output, and ends it for
    // good at the end of the run.
    void clear();
    void finish();

    double elapsed() const;
    long framesDone() const { return done_; }
    // "reading 1.80 s, rendering 0.41 s, writing 2.00 s": where the time went.
    std::string stageTimes() const;

private:
    using Clock = std::chrono::steady_clock;
    void countStage();
    void draw();

    bool shown_;
    long frames_;
    std::FILE* out_;
    Clock::time_point start_, stageStart_, lastDraw_;
    std::string file_;
    const char* stage_ = nullptr;
    double fraction_ = -1.0;
    long done_ = 0;
    double seconds_[3] = {0.0, 0.0, 0.0}; // reading, rendering, writing
    std::size_t drawn_ = 0;               // characters on the line now
};

} // namespace MorvekRender

#endif
