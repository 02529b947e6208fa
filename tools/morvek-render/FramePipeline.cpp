// The reader thread and the render-and-write loop of morvek-render; see
// FramePipeline.h.
#include "FramePipeline.h"

#include "ImageIO.h"
#include "Interrupt.h"
#include "MemoryBudget.h"
#include "OutputFile.h"
#include "RawIO.h"
#include "WorkingSpace.h"
#include "World.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace MorvekRender {

namespace {

// The files of one frame: its input described, its output open.
struct FrameFiles {
    long frame = 0;
    std::string input;
    std::string output;
    bool rawInput = false;
    std::unique_ptr<ImageReader> reader;
    std::vector<FileLayout> layouts;
    std::vector<int> depths; // the depth each image is read at
    std::unique_ptr<OutputFile> file;
    std::unique_ptr<ImageWriter> writer; // after the file: closed before it goes
    std::vector<std::string> warnings;
};

// One image of a frame, read and waiting to be rendered; or the reason its
// frame failed; or the end of the run.
struct Job {
    std::shared_ptr<FrameFiles> files;
    int image = 0;
    std::unique_ptr<standin::World> world;
    std::vector<unsigned char> passThrough;
    double reserved = 0.0; // of the memory budget, until the image is written
    long frame = 0;
    std::string error;
    bool end = false;
};

class Pipeline {
public:
    Pipeline(EffectRunner& runner, const Options& o, long first, long last, ProgressLine& progress)
        : runner_(runner), o_(o), first_(first), last_(last),
          limit_(o.memoryLimit != 0 ? o.memoryLimit : defaultMemoryLimit()), progress_(progress) {}

    std::string run(const std::function<void(const FrameDone&)>& done);

private:
    // Reader thread.
    void readFrames();
    std::shared_ptr<FrameFiles> openFrame(long frame);
    bool reserve(double bytes);
    std::unique_ptr<standin::World> takeWorld(int width, int height, int depth);
    bool waitForRoom();
    bool push(Job job);

    // Calling thread.
    Job pop();
    void renderAndWrite(Job& job, std::unique_ptr<standin::World>& out, FrameResult& shape);
    const standin::World& renderLinear(Job& job, std::unique_ptr<standin::World>& out,
                                       std::vector<std::unique_ptr<standin::World>>& held);
    void release(double bytes);
    void stop();

    // The depth the effect renders an image at.
    int effectDepth(const FrameFiles& f, int image) const {
        return !o_.linear ? f.depths[image] : !f.rawInput && o_.depth != 0 ? o_.depth : 32;
    }
    double imageMemory(const FrameFiles& f, int image) const;

    std::string frameText(const FrameFiles& f) const {
        return o_.sequence ? "frame " + std::to_string(f.frame) : "'" + f.input + "'";
    }
    // The line an interruption prints, from what each thread is doing.
    void updateActivity();
    void setStage(const char* stage, const std::shared_ptr<FrameFiles>& files);
    void setAhead(const std::shared_ptr<FrameFiles>& files);

    EffectRunner& runner_;
    const Options& o_;
    const long first_;
    const long last_;
    const std::uint64_t limit_;
    ProgressLine& progress_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Job> ready_; // at most one
    bool stopped_ = false;
    double held_ = 0.0;                     // bytes reserved by images read and not yet written
    std::unique_ptr<standin::World> spare_; // an input world rendered from, for the next frame
    double readFraction_ = -1.0;            // how far the reader thread has read its image

    // For updateActivity, under lock_.
    const char* stage_ = nullptr;
    std::shared_ptr<FrameFiles> current_; // rendered or written
    std::shared_ptr<FrameFiles> ahead_;   // read by the reader thread
    long lastDone_ = 0;
    bool anyDone_ = false;
};

void checkMemory(const std::string& path, const FileLayout& layout, int depth, double need, std::uint64_t limit,
                 bool defaultLimit) {
    if (need > static_cast<double>(limit)) {
        throw ImageError("'" + path + "' is " + std::to_string(layout.width) + "x" + std::to_string(layout.height) +
                         ": rendering it at depth " + std::to_string(depth) + " takes " + sizeText(need) +
                         ", more than the memory limit of " + sizeText(static_cast<double>(limit)) +
                         (defaultLimit ? " (half of this machine's memory; see --memory-limit)" : ""));
    }
}

std::shared_ptr<FrameFiles> Pipeline::openFrame(long frame) {
    auto f = std::make_shared<FrameFiles>();
    f->frame = frame;
    f->input = o_.sequence ? expandFramePattern(o_.input, frame) : o_.input;
    f->output = o_.sequence ? expandFramePattern(o_.output, frame) : o_.output;
    f->rawInput = isRawPath(f->input);
    setAhead(f);
    // Every image is described, and its size checked, before a pixel is read.
    if (f->rawInput) {
        FileLayout raw;
        raw.width = o_.width;
        raw.height = o_.height;
        raw.sampleType = sampleTypeForDepth(o_.depth);
        f->layouts.push_back(raw);
        f->depths.push_back(o_.depth);
    } else {
        // Linear light is decoded from the file's values at full precision.
        f->reader = std::make_unique<ImageReader>(f->input, o_.linear ? 32 : o_.depth);
        for (int i = 0; i < f->reader->count(); ++i) {
            f->layouts.push_back(f->reader->layout(i));
            f->depths.push_back(f->reader->depth(i));
        }
    }
    for (std::size_t i = 0; i < f->layouts.size(); ++i) {
        const int image = static_cast<int>(i);
        checkMemory(f->input, f->layouts[i], o_.linear ? 32 : f->depths[i], imageMemory(*f, image), limit_,
                    o_.memoryLimit == 0);
    }
    if (isRawPath(f->output) && (f->layouts.size() > 1 || !f->layouts[0].passThrough.empty())) {
        throw ImageError(
            "cannot write '" + f->output + "': a raw frame holds one image of alpha, red, green and blue, " +
            (f->layouts.size() > 1 ? "and '" + f->input + "' has " + std::to_string(f->layouts.size()) + " images"
                                   : "not the channel '" + f->layouts[0].passThrough[0] + "'"));
    }
    f->file = std::make_unique<OutputFile>(f->output, o_.noClobber);
    if (!isRawPath(f->output)) {
        f->writer = std::make_unique<ImageWriter>(*f->file, f->layouts, f->warnings);
    }
    return f;
}

// Waits until the image's memory fits in the budget beside the images in
// flight, or until none is in flight (one alone always fits: checkMemory
// said so). False when the run stops.
bool Pipeline::reserve(double bytes) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return stopped_ || held_ == 0.0 || held_ + bytes <= static_cast<double>(limit_); });
    if (stopped_) {
        return false;
    }
    held_ += bytes;
    return true;
}

void Pipeline::release(double bytes) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        held_ -= bytes;
        if (held_ < 1.0) {
            held_ = 0.0;
        }
    }
    changed_.notify_all();
}

// The spare world when it has the size and depth asked for; its pixels are
// all read again.
std::unique_ptr<standin::World> Pipeline::takeWorld(int width, int height, int depth) {
    std::unique_ptr<standin::World> world;
    {
        std::lock_guard<std::mutex> hold(lock_);
        world = std::move(spare_);
    }
    if (world && world->width() == width && world->height() == height && world->bitsPerChannel() == depth) {
        return world;
    }
    world.reset();
    return makeWorld(width, height, depth);
}

// Waits until the calling thread has taken the image read last, so that
// the reader works on one image ahead at most. False when the run stops.
bool Pipeline::waitForRoom() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return stopped_ || ready_.empty(); });
    return !stopped_;
}

bool Pipeline::push(Job job) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return stopped_ || ready_.empty(); });
    if (stopped_) {
        return false;
    }
    ready_.push_back(std::move(job));
    changed_.notify_all();
    return true;
}

// The next image; while the reader thread still reads it, the progress line
// says how far it has come.
Job Pipeline::pop() {
    std::unique_lock<std::mutex> hold(lock_);
    while (ready_.empty()) {
        changed_.wait_for(hold, std::chrono::milliseconds(100));
        const double done = readFraction_;
        hold.unlock();
        progress_.fraction(done);
        hold.lock();
    }
    Job job = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return job;
}

void Pipeline::stop() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopped_ = true;
    }
    changed_.notify_all();
}

void Pipeline::readFrames() {
    for (long frame = first_; frame <= last_; ++frame) {
        std::shared_ptr<FrameFiles> files;
        Job failed;
        failed.frame = frame;
        std::string input = o_.sequence ? expandFramePattern(o_.input, frame) : o_.input;
        if (!waitForRoom()) {
            return;
        }
        try {
            files = openFrame(frame);
            for (int i = 0; i < static_cast<int>(files->layouts.size()); ++i) {
                if (i > 0 && !waitForRoom()) {
                    return;
                }
                const FileLayout& layout = files->layouts[i];
                const int depth = files->depths[i];
                Job job;
                job.files = files;
                job.image = i;
                job.frame = frame;
                job.reserved = imageMemory(*files, i);
                if (!reserve(job.reserved)) {
                    return;
                }
                // Given back by the calling thread once the image is written.
                try {
                    {
                        std::lock_guard<std::mutex> hold(lock_);
                        readFraction_ = 0.0;
                    }
                    job.world = takeWorld(layout.width, layout.height, depth);
                    if (files->rawInput) {
                        readRaw(files->input, rowsOf(*job.world));
                    } else {
                        files->reader->readInto(i, rowsOf(*job.world), job.passThrough, [this](double done) {
                            std::lock_guard<std::mutex> hold(lock_);
                            readFraction_ = done;
                        });
                    }
                } catch (...) {
                    release(job.reserved);
                    throw;
                }
                if (!push(std::move(job))) {
                    return;
                }
            }
        } catch (const std::bad_alloc&) {
            failed.error = "out of memory for '" + input + "'";
        } catch (const std::exception& e) {
            failed.error = e.what();
        }
        if (!failed.error.empty()) {
            failed.files = std::move(files);
            push(std::move(failed));
            return;
        }
    }
    Job end;
    end.end = true;
    push(std::move(end));
}

// Bytes held while one image is rendered and written (renderMemory), with
// the frames that the linear working space converts through.
double Pipeline::imageMemory(const FrameFiles& f, int image) const {
    const FileLayout& l = f.layouts[image];
    const int readDepth = f.depths[image];
    if (!o_.linear) {
        return renderMemory(l.width, l.height, readDepth, l.passThroughBytes);
    }
    const int depth = effectDepth(f, image);
    auto frame = [&](int d) { return static_cast<double>(worldBytes(l.width, l.height, d)); };
    double need = renderMemory(l.width, l.height, 32, l.passThroughBytes); // linear light in and out
    need += readDepth != 32 ? frame(readDepth) : 0.0;                      // a raw frame as read
    need += depth != 32 ? 2.0 * frame(depth) : 0.0;                        // the effect's worlds
    need += f.rawInput && o_.depth != 32 ? frame(o_.depth) : 0.0;          // the raw frame written
    return need;
}

// --working-space linear: the frame decoded to linear light at 32 bits,
// rendered at the effect's depth and encoded again, at 32 bits, or for raw
// input at its own depth. Returns the world to write; `held` keeps the
// worlds made on the way.
const standin::World& Pipeline::renderLinear(Job& job, std::unique_ptr<standin::World>& out,
                                             std::vector<std::unique_ptr<standin::World>>& held) {
    const FrameFiles& f = *job.files;
    const FileLayout& layout = f.layouts[job.image];
    const int depth = effectDepth(f, job.image);
    const int width = layout.width, height = layout.height;
    auto converted = [&](standin::World& from, int to) -> standin::World& {
        held.push_back(makeWorld(width, height, to));
        convertDepth(rowsOf(from), rowsOf(*held.back()));
        return *held.back();
    };
    const LinearConversion space(colourSpaceOf(layout), runner_.threads());
    standin::World& image = job.world->bitsPerChannel() == 32 ? *job.world : converted(*job.world, 32);
    space.toLinear(rowsOf(image));
    standin::World& in = depth == 32 ? image : converted(image, depth);
    if (!out || out->width() != width || out->height() != height || out->bitsPerChannel() != depth) {
        out.reset();
        out = makeWorld(width, height, depth);
    }
    setStage("rendering", job.files);
    runner_.render(in, *out, o_.exposure, o_.gamma, f.frame);
    standin::World& result = depth == 32 ? *out : converted(*out, 32);
    space.fromLinear(rowsOf(result));
    return f.rawInput && o_.depth != 32 ? converted(result, o_.depth) : result;
}

void Pipeline::renderAndWrite(Job& job, std::unique_ptr<standin::World>& out, FrameResult& shape) {
    FrameFiles& f = *job.files;
    std::vector<std::unique_ptr<standin::World>> held;
    const standin::World* result = nullptr;
    if (o_.linear) {
        result = &renderLinear(job, out, held);
    } else {
        const standin::World& in = *job.world;
        if (!out || out->width() != in.width() || out->height() != in.height() ||
            out->bitsPerChannel() != in.bitsPerChannel()) {
            out.reset();
            out = makeWorld(in.width(), in.height(), in.bitsPerChannel());
        }
        setStage("rendering", job.files);
        runner_.render(*job.world, *out, o_.exposure, o_.gamma, f.frame);
        result = out.get();
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        spare_ = std::move(job.world);
    }
    setStage("writing", job.files);
    const FrameRows rows = rowsOf(const_cast<standin::World&>(*result));
    if (f.writer) {
        f.writer->write(rows, job.passThrough, [this](double done) { progress_.fraction(done); });
    } else {
        writeRaw(*f.file, rows);
    }
    if (job.image == 0) {
        shape.fileDepth = f.rawInput ? o_.depth : hostDepthFor(f.layouts[0].sampleType);
        shape.colourSpace = o_.linear ? colourSpaceOf(f.layouts[0]) : std::string();
    }
    shape.width = rows.width;
    shape.height = rows.height;
    shape.depth = effectDepth(f, job.image);
    shape.images = job.image + 1;
    if (job.image + 1 == static_cast<int>(f.layouts.size())) {
        if (f.writer) {
            f.writer->finish();
        }
        f.file->commit();
    }
}

std::string Pipeline::run(const std::function<void(const FrameDone&)>& done) {
    std::thread reader([this] { readFrames(); });
    std::unique_ptr<standin::World> out;
    std::string error;
    FrameResult shape;
    long next = first_; // the frame whose images come next
    bool frameStarted = false;
    for (;;) {
        if (next <= last_) {
            if (!frameStarted) {
                progress_.startFrame();
                frameStarted = true;
            }
            progress_.stage("reading", o_.sequence ? expandFramePattern(o_.input, next) : o_.input);
        }
        Job job = pop();
        if (job.end) {
            break;
        }
        if (!job.error.empty()) {
            error = job.error;
        } else {
            try {
                renderAndWrite(job, out, shape);
            } catch (const std::bad_alloc&) {
                error = "out of memory for '" + job.files->input + "'";
            } catch (const std::exception& e) {
                error = e.what();
            }
        }
        release(job.reserved);
        if (!error.empty()) {
            if (o_.sequence) {
                error.insert(0, "frame " + std::to_string(job.frame) + ": ");
            }
            break;
        }
        if (job.image + 1 == static_cast<int>(job.files->layouts.size())) {
            progress_.endFrame();
            frameStarted = false;
            next = job.frame + 1;
            FrameDone d;
            d.frame = job.frame;
            d.shape = shape;
            d.warnings = job.files->warnings;
            {
                std::lock_guard<std::mutex> hold(lock_);
                lastDone_ = job.frame;
                anyDone_ = true;
                if (current_ == job.files) {
                    current_.reset();
                    stage_ = nullptr;
                }
            }
            updateActivity();
            done(d);
        }
    }
    stop();
    reader.join();
    ready_.clear(); // what the reader had read ahead: its temporary file goes with it
    {
        std::lock_guard<std::mutex> hold(lock_);
        current_.reset();
        ahead_.reset();
        stage_ = nullptr;
    }
    setActivity(std::string());
    return error;
}

void Pipeline::setStage(const char* stage, const std::shared_ptr<FrameFiles>& files) {
    progress_.stage(stage, std::strcmp(stage, "writing") == 0 ? files->output : files->input);
    {
        std::lock_guard<std::mutex> hold(lock_);
        stage_ = stage;
        current_ = files;
        if (ahead_ == files) {
            ahead_.reset();
        }
    }
    updateActivity();
}

void Pipeline::setAhead(const std::shared_ptr<FrameFiles>& files) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        ahead_ = files;
    }
    updateActivity();
}

void Pipeline::updateActivity() {
    std::string text;
    // Set under the lock, so that the two threads' lines reach it in order.
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<const FrameFiles*> open;
    if (current_) {
        text = std::string("while ") + stage_ + " " + frameText(*current_);
        open.push_back(current_.get());
    }
    if (ahead_ && ahead_ != current_) {
        text += (text.empty() ? "while reading " : " and reading ") + frameText(*ahead_);
        open.push_back(ahead_.get());
    }
    if (!open.empty()) {
        text += "; '" + open[0]->output + "'";
        text += open.size() > 1 ? " and '" + open[1]->output + "' were not written" : " was not written";
        if (anyDone_) {
            text += "; frames " + std::to_string(first_) + "-" + std::to_string(lastDone_) + " are complete";
        }
    }
    setActivity(text);
}

} // namespace

std::string colourSpaceOf(const FileLayout& layout) {
    float gamma = 0.0f;
    const std::string declared = declaredColourSpace(layout, &gamma);
    return fileColourSpace(declared, gamma,
                           layout.sampleType == SampleType::Half || layout.sampleType == SampleType::Float);
}

std::string renderFrames(EffectRunner& runner, const Options& o, long first, long last, ProgressLine& progress,
                         const std::function<void(const FrameDone&)>& done) {
    Pipeline pipeline(runner, o, first, last, progress);
    return pipeline.run(done);
}

} // namespace MorvekRender
