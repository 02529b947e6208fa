// One applied effect driven through its commands, with a leak report after
// each.
#include "Session.h"

#include <cstring>

namespace standin {

Session::Session(std::shared_ptr<Module> module, Host* host) : module_(std::move(module)), host_(host) {
    if (!host_) {
        ownHost_ = std::make_unique<Host>();
        host_ = ownHost_.get();
    }
    effect_ = &host_->createEffect();
}

Session::~Session() {
    if (globalData_) {
        host_->releaseHold(globalData_);
    }
    host_->destroyEffect(*effect_);
}

std::unique_ptr<Session> Session::open(const std::string& path, std::string* error) {
    std::shared_ptr<Module> module = Module::load(path, error);
    if (!module) {
        return nullptr;
    }
    return std::make_unique<Session>(module);
}

PF_Err Session::run(PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra, PF_LayerDef* output) {
    if (!brokerAvailable_) {
        in.pica_basicP = nullptr;
    }
    if (beforeCommand) {
        beforeCommand(cmd, in, out);
    }
    const PF_Err err = host_->callEntry(module_->entryPoint(), cmd, &in, &out, nullptr, output, extra);
    lastIn_ = in;
    lastOut_ = out;
    return err;
}

void Session::takeReport(const std::string& after) {
    lastReport_ = host_->leaks();
    if (!lastReport_.clean() && allClean_) {
        allClean_ = false;
        firstLeak_ = "after " + after + ":\n" + lastReport_.describe();
    }
}

PF_Err Session::command(PF_Cmd cmd, void* extra, PF_LayerDef* output) {
    PF_InData in;
    PF_OutData out;
    host_->prepareRecords(*effect_, &in, &out);
    in.global_data = globalData_;
    const PF_Err err = run(cmd, in, out, extra, output);
    takeReport(cmd);
    return err;
}

PF_Err Session::about(std::string* text) {
    PF_InData in;
    PF_OutData out;
    host_->prepareRecords(*effect_, &in, &out);
    in.global_data = globalData_;
    const PF_Err err = run(PF_Cmd_ABOUT, in, out, nullptr, nullptr);
    if (text) {
        *text = std::string(out.return_msg, strnlen(out.return_msg, sizeof(out.return_msg)));
    }
    takeReport(PF_Cmd_ABOUT);
    return err;
}

PF_Err Session::globalSetup() {
    PF_InData in;
    PF_OutData out;
    host_->prepareRecords(*effect_, &in, &out);
    const PF_Err err = run(PF_Cmd_GLOBAL_SETUP, in, out, nullptr, nullptr);
    if (out.global_data) {
        setGlobalData(out.global_data);
    }
    takeReport(PF_Cmd_GLOBAL_SETUP);
    return err;
}

PF_Err Session::paramsSetup() {
    PF_InData in;
    PF_OutData out;
    host_->prepareRecords(*effect_, &in, &out);
    in.global_data = globalData_;
    const PF_Err err = run(PF_Cmd_PARAMS_SETUP, in, out, nullptr, nullptr);
    // A host lays out its parameter records by the count the effect reports;
    // it must match what was added (plus the input layer).
    if (err == PF_Err_NONE && out.num_params != effect_->numParams()) {
        host_->noteMisuse("ParamsSetup reported " + std::to_string(out.num_params) + " parameters but " +
                          std::to_string(effect_->numParams()) + " exist");
    }
    takeReport(PF_Cmd_PARAMS_SETUP);
    return err;
}

PF_Err Session::globalSetdown() {
    PF_InData in;
    PF_OutData out;
    host_->prepareRecords(*effect_, &in, &out);
    in.global_data = globalData_;
    const PF_Err err = run(PF_Cmd_GLOBAL_SETDOWN, in, out, nullptr, nullptr);
    // The host stops holding the global data: if it is still alive, it is
    // GlobalSetup's leak, whatever GlobalSetdown returned.
    setGlobalData(nullptr);
    takeReport(PF_Cmd_GLOBAL_SETDOWN);
    return err;
}

void Session::setGlobalData(PF_Handle handle) {
    if (globalData_) {
        host_->releaseHold(globalData_);
    }
    globalData_ = handle;
    if (globalData_) {
        host_->holdHandle(globalData_);
    }
}

PF_Err Session::preRender(Frame& frame) {
    frame.inData().global_data = globalData_;
    frame.preRenderStarting();
    const PF_Err err = run(PF_Cmd_SMART_PRE_RENDER, frame.inData(), frame.outData(), &frame.preRenderExtra(), nullptr);
    frame.preRenderReturned(err);
    takeReport(PF_Cmd_SMART_PRE_RENDER);
    return err;
}

PF_Err Session::smartRender(Frame& frame) {
    frame.inData().global_data = globalData_;
    frame.passPreRenderData();
    const PF_Err err = run(PF_Cmd_SMART_RENDER, frame.inData(), frame.outData(), &frame.smartRenderExtra(), nullptr);
    frame.renderReturned(err);
    takeReport(PF_Cmd_SMART_RENDER);
    finishFrame(frame);
    return err;
}

void Session::finishFrame(Frame& frame) {
    frame.finish();
    lastPreRenderData_ = frame.preRenderData();
    takeReport("the end of a frame");
}

PF_Err Session::renderFrame(World& input, World& output, const FrameOptions& options) {
    return runFrame(input, output, CallOrder::PreRenderThenRender, options);
}

PF_Err Session::runFrame(World& input, World& output, CallOrder order, const FrameOptions& options) {
    if (input.format() != output.format()) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    std::unique_ptr<Frame> frame = host_->beginFrame(*effect_, &input, &output, options);
    PF_Err err = preRender(*frame);
    if (err == PF_Err_NONE && order == CallOrder::PreRenderTwiceThenRender) {
        err = preRender(*frame);
    }
    if (err == PF_Err_NONE && order == CallOrder::RenderAbandoned) {
        frame->passPreRenderData();
    }
    if (err == PF_Err_NONE &&
        (order == CallOrder::PreRenderThenRender || order == CallOrder::PreRenderTwiceThenRender)) {
        return smartRender(*frame);
    }
    finishFrame(*frame);
    return err;
}

} // namespace standin
