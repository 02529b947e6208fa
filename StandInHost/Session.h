// A session with one effect module: the sequence of commands that a host runs
// for one applied effect, shared by the tests, the command-line hosts and the
// benchmarks.
//
//   auto module = standin::Module::load(path, &why);
//   standin::Session s(module);
//   s.globalSetup();                        // PF_Err, 0 on success
//   s.paramsSetup();
//   s.setSlider(1, 2.2);                    // "Exposure"
//   standin::World in(640, 480, PF_PixelFormat_ARGB64, 16), out(640, 480, PF_PixelFormat_ARGB64);
//   standin::FrameOptions fo; fo.threads = 4;
//   PF_Err err = s.renderFrame(in, out, fo); // pre-render + render
//   s.globalSetdown();
//   EXPECT_TRUE(s.lastReport().clean()) << s.lastReport().describe();
//
// After every command, and at the end of every frame, the session takes the
// host's leak report and keeps it as lastReport(); reportsClean() is false
// once any of them found something left behind. The host holds the global
// data between GlobalSetup and GlobalSetdown, and a pre-render handle until
// the end of its frame; it frees neither: global data still alive after
// GlobalSetdown, failed or not, is reported as a leak of GlobalSetup.
//
// Frames run in the call orders a real host uses (CallOrder): pre-render
// then render; pre-render alone; two pre-renders then one render; a render
// abandoned after pre-render. In each the host calls the effect's
// delete_pre_render_data_func once for every pre-render data it was handed,
// after render when render ran (Frame).
//
// The host records every call by default; for long sessions (thousands of
// frames) turn that off with host().setRecording(false), which keeps the
// per-call counters and fault injection but not the growing log.
#ifndef STANDIN_SESSION_H
#define STANDIN_SESSION_H

#include "Host.h"
#include "Module.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace standin {

// The orders in which a host calls the two smart-render steps of one frame.
enum class CallOrder {
    // Pre-render, then render (if pre-render succeeded); then the host frees
    // the pre-render data.
    PreRenderThenRender,
    // Pre-render alone: the host only wanted the output rectangle, or has
    // the frame cached.
    PreRenderOnly,
    // Pre-render twice (the second with a fresh output record), then one
    // render with the second call's data.
    PreRenderTwiceThenRender,
    // Pre-render, its data given to the render input, and the frame dropped
    // before render runs (the user moved on).
    RenderAbandoned,
};

class Session {
public:
    // Runs `module` on `host`, or on a host of its own when host is null.
    explicit Session(std::shared_ptr<Module> module, Host* host = nullptr);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads the module at `path`; null (with *error) when it cannot be loaded.
    static std::unique_ptr<Session> open(const std::string& path, std::string* error = nullptr);

    Host& host() { return *host_; }
    Effect& effect() { return *effect_; }
    Module& module() { return *module_; }

    // ---- Global commands
    // About; the text the module wrote into return_msg goes to *text.
    PF_Err about(std::string* text = nullptr);
    // GlobalSetup; on success the host holds out_data->global_data.
    PF_Err globalSetup();
    // ParamsSetup; a successful one whose num_params differs from the
    // parameters added (plus the input layer) is reported as misuse.
    PF_Err paramsSetup();
    // GlobalSetdown with the global data kept from GlobalSetup (or none).
    // When it fails, the host disposes of the global data itself.
    PF_Err globalSetdown();
    // Any command with fresh records (extra and output as given).
    PF_Err command(PF_Cmd cmd, void* extra = nullptr, PF_LayerDef* output = nullptr);

    // ---- Parameters
    void setSlider(int index, double value) { effect_->setSlider(index, value); }
    void setSlider(int index, double value, TimeKey time) { effect_->setSlider(index, value, time); }

    // ---- Frames
    // Smart pre-render then, if it succeeded, smart render of one frame from
    // `input` to `output` (same pixel format, or PF_Err_BAD_CALLBACK_PARAM
    // without calling the module). Returns the first non-zero code.
    PF_Err renderFrame(World& input, World& output, const FrameOptions& options = {});
    // One frame in `order`; the first non-zero code, or 0. Each step runs
    // only when the ones before it succeeded; the frame ends either way.
    PF_Err runFrame(World& input, World& output, CallOrder order, const FrameOptions& options = {});
    // The steps on a frame from host().beginFrame(), for tests that change
    // the records between them: preRender may run more than once (the host
    // keeps each call's data); smartRender passes the latest data to render
    // and ends the frame after it; finishFrame ends a frame without (further)
    // render. Ending a frame frees its pre-render data (Frame::finish) and
    // takes a leak report.
    PF_Err preRender(Frame& frame);
    PF_Err smartRender(Frame& frame);
    void finishFrame(Frame& frame);
    // The pre-render data of the most recently ended frame, as the host kept
    // it (Frame::preRenderData).
    const std::vector<Frame::PreRenderData>& lastPreRenderData() const { return lastPreRenderData_; }

    // ---- Records and state
    // Called with the records right before every command, to tamper with them
    // (e.g. null pica_basicP).
    std::function<void(PF_Cmd, PF_InData&, PF_OutData&)> beforeCommand;
    // When false, commands get a null pica_basicP.
    void setBrokerAvailable(bool available) { brokerAvailable_ = available; }
    const PF_InData& lastInData() const { return lastIn_; }
    const PF_OutData& lastOutData() const { return lastOut_; }
    PF_Handle globalData() const { return globalData_; }
    // Replaces the global data passed to later commands (the host's hold
    // moves with it).
    void setGlobalData(PF_Handle handle);

    // ---- Balance
    const LeakReport& lastReport() const { return lastReport_; }
    bool reportsClean() const { return allClean_; }
    // The first unclean report's description with its command (or "the end
    // of a frame"), or "".
    const std::string& firstLeak() const { return firstLeak_; }

private:
    PF_Err run(PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra, PF_LayerDef* output);
    void takeReport(const std::string& after);
    void takeReport(PF_Cmd cmd) { takeReport(commandName(cmd)); }

    std::shared_ptr<Module> module_;
    std::unique_ptr<Host> ownHost_;
    Host* host_;
    Effect* effect_;
    PF_Handle globalData_ = nullptr;
    bool brokerAvailable_ = true;
    PF_InData lastIn_{};
    PF_OutData lastOut_{};
    std::vector<Frame::PreRenderData> lastPreRenderData_;
    LeakReport lastReport_;
    bool allClean_ = true;
    std::string firstLeak_;
};

} // namespace standin

#endif
