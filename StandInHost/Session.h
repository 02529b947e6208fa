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
// After every command the session takes the host's leak report (the global
// data handle is held by the host between GlobalSetup and GlobalSetdown, the
// pre-render handle between the two render steps) and keeps it as
// lastReport(); reportsClean() is false once any command left something
// behind.
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

namespace standin {

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
    // The two steps on a frame from host().beginFrame(), for tests that
    // change the records between them. smartRender ends the frame (see
    // Frame::finish: pre-render data left after a failed render is taken
    // back by the host and counted in Host::reclaimedHandles).
    PF_Err preRender(Frame& frame);
    PF_Err smartRender(Frame& frame);

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
    // The first unclean report's description with its command, or "".
    const std::string& firstLeak() const { return firstLeak_; }

private:
    PF_Err run(PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra, PF_LayerDef* output);
    void takeReport(PF_Cmd cmd);

    std::shared_ptr<Module> module_;
    std::unique_ptr<Host> ownHost_;
    Host* host_;
    Effect* effect_;
    PF_Handle globalData_ = nullptr;
    bool brokerAvailable_ = true;
    PF_InData lastIn_{};
    PF_OutData lastOut_{};
    LeakReport lastReport_;
    bool allClean_ = true;
    std::string firstLeak_;
};

} // namespace standin

#endif
