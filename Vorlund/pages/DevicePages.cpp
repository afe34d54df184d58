#include "DevicePages.h"

#include "DeviceSettings.h"
#include "FormatChoices.h"
#include "Messages.h"
#include "SettingsFile.h"
#include "V4l2Standards.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>

namespace vorlund {

namespace {

constexpr uint32_t kBootRoutingMinutes = 5;
constexpr uint32_t kTvSettleMs = 14;
constexpr uint32_t kSettleMs = 100;

std::unique_ptr<IV4l2Device> RealDevice(int fd)
{
    return std::make_unique<V4l2Device>(fd);
}

// The first audio input that goes with a video input (its audioset's lowest bit).
std::optional<uint32_t> FirstAudio(uint32_t audioset)
{
    for (uint32_t bit = 0; bit < 32; ++bit) {
        if (audioset & (1u << bit))
            return bit;
    }
    return std::nullopt;
}

} // namespace

bool MatchesStoredName(std::string_view name, std::string_view stored, size_t width)
{
    return name == stored || StoredText(name, width) == stored;
}

DevicePages::DevicePages(ServerContext &context, ICaptureGraph &graph, IDeviceAccess &access,
                         IDevicePageDialogs &dialogs, DeviceFactory factory)
    : m_context(context), m_graph(graph), m_access(access), m_dialogs(dialogs),
      m_factory(factory ? std::move(factory) : DeviceFactory(RealDevice))
{ }

bool DevicePages::CommonStart()
{
    EngineState &e = m_context.engine;
    if (!e.ViewWindow.load())
        e.ViewWindow = &m_context.sink;
    if (m_access.HasGraph() || m_access.OpenDeviceStage())
        return true;
    e.KeepDeviceFilter = 0;
    m_context.view.DeviceReady = false;
    m_graph.TearDownGraph();
    return false;
}

std::unique_ptr<IV4l2Device> DevicePages::Device()
{
    const std::optional<int> fd = m_access.DeviceFd();
    if (!fd)
        return nullptr;
    return m_factory(*fd);
}

const std::vector<TunerChannel> &DevicePages::Channels() const
{
    return ChannelTable(m_context.profile.GetProfileString(kChannelTableSection, kChannelTableKey,
                                                           kDefaultChannelTable));
}

int DevicePages::ApplyWithRebuild(const std::function<int(IV4l2Device &)> &change)
{
    std::unique_ptr<IV4l2Device> device = Device();
    if (!device)
        return ENODEV;
    int rc = change(*device);
    if (rc != EBUSY)
        return rc;

    // The driver takes it only while no buffers are queued: down to the device stage.
    EngineState &e = m_context.engine;
    const bool built = m_graph.IsBuilt();
    const bool running = !m_context.view.Idle;
    e.KeepDeviceFilter = 1;
    m_graph.TearDownGraph();
    e.GateOpen = 0;
    if ((device = Device()))
        rc = change(*device);
    if (built) {
        if (m_graph.BuildCaptureGraph(false) != BuildResult::Ok) {
            m_context.view.DeviceReady = false;
            if (running)
                m_context.sink.PostMessage(WM_RESTART_CAPTURE);
        } else if (running) {
            // As a start sets it up: gates shut (the build leaves them so), stamp, audio time.
            m_graph.SetStamp(m_context.settings.Config.VideoTimestamp != 0,
                             m_context.view.Startup.TimeStampCorner != 0);
            if (m_graph.RunGraph())
                m_graph.SetAudioReferenceTime(0);
            else
                m_context.sink.PostMessage(WM_RESTART_CAPTURE);
        }
    }
    e.KeepDeviceFilter = 0;
    return rc;
}

void DevicePages::ShowCrossbarPage(bool deviceOnly)
{
    m_crossbarFound = false;
    if (!CommonStart())
        return;
    if (std::unique_ptr<IV4l2Device> device = Device()) {
        const std::vector<VideoInput> inputs = ReadVideoInputs(*device);
        if (HasInputSelector(inputs)) {
            m_crossbarFound = true;
            if (!deviceOnly) {
                InputPageValues values;
                values.inputs = inputs;
                uint32_t current = 0;
                if (device->GetInput(current) == 0) {
                    for (size_t i = 0; i < inputs.size(); ++i) {
                        if (inputs[i].index == current)
                            values.current = int(i);
                    }
                }
                const int before = values.current;
                device.reset();
                if (m_dialogs.RunInputPage(values) && values.current != before
                    && values.current >= 0 && size_t(values.current) < inputs.size()) {
                    const uint32_t index = inputs[size_t(values.current)].index;
                    ApplyWithRebuild([index](IV4l2Device &d) { return d.SelectInput(index); });
                }
                device = Device();
            }
            if (device)
                RouteCrossbar(*device, deviceOnly);
        }
    }
    CrossbarTail();
}

void DevicePages::RouteCrossbar(IV4l2Device &device, bool deviceOnly)
{
    ServerContext &c = m_context;
    EngineState &e = c.engine;
    e.TvMode = 0;
    e.SlowPeriod = 12000;
    c.shell.SetPaneText(kPaneCamera, "-");

    if (FindCrossbarPin(device, PhysicalConnector::VideoDecoder, true)) {
        if (deviceOnly && c.clock.TickCount() / 60000 < kBootRoutingMinutes
            && !c.settings.Config.TvRecord) {
            if (const std::optional<long> composite
                = FindCrossbarPin(device, PhysicalConnector::VideoComposite, false)) {
                const uint32_t index = uint32_t(*composite);
                if (ApplyWithRebuild([index](IV4l2Device &d) { return d.SelectInput(index); }) == 0)
                    c.log.AppendErrorLog("connected Video Crossbar to Composite input.");
            }
        }
        std::unique_ptr<IV4l2Device> now = Device();
        IV4l2Device &d = now ? *now : device;
        uint32_t current = 0;
        if (d.GetInput(current) == 0) {
            for (const VideoInput &input : ReadVideoInputs(d)) {
                if (input.index == current && input.type == V4L2_INPUT_TYPE_TUNER) {
                    e.TvMode = 1;
                    e.SlowPeriod = 1000;
                }
            }
        }
    }

    const std::vector<VideoInput> inputs = ReadVideoInputs(device);
    std::optional<uint32_t> tunerAudio;
    if (FindCrossbarPin(device, PhysicalConnector::AudioDecoder, true)) {
        if (const std::optional<long> tuner
            = FindCrossbarPin(device, PhysicalConnector::AudioTuner, false)) {
            for (const VideoInput &input : inputs) {
                if (long(input.index) == *tuner)
                    tunerAudio = FirstAudio(input.audioset);
            }
        }
    }
    const bool oneCamera = e.CameraCount < 2;
    if (e.TvMode && !c.view.Idle) {
        if (oneCamera)
            e.SettleTime = kTvSettleMs;
        if (tunerAudio && device.SetAudioInput(*tunerAudio) == 0) {
            device.SetAudioMute(false);
            c.shell.SetPaneText(kPaneCamera, "A");
        }
    } else {
        if (oneCamera)
            e.SettleTime = kSettleMs;
        if (tunerAudio) {
            device.SetAudioMute(true);
            c.shell.SetPaneText(kPaneCamera, "X");
        }
    }
}

void DevicePages::CrossbarTail()
{
    ServerContext &c = m_context;
    EngineState &e = c.engine;
    if (c.settings.Config.ContinuousRecord && e.GateOpen && e.TvMode) {
        m_graph.SetGateOpen(false);
        e.GateOpen = 0;
    }
    if (e.ReviewMode && e.TvMode && LeaveReviewMode)
        LeaveReviewMode();
    // Posted as the Cancel of those dialogs.
    if (e.ZoneEditing)
        c.sink.PostMessage(WM_SETTINGS_CLOSED, 142);
    if (e.DialogCamera)
        c.sink.PostMessage(WM_SETTINGS_CLOSED, 143);
}

void DevicePages::ShowTvTunerPage(bool deviceOnly)
{
    m_tunerFound = false;
    if (!CommonStart())
        return;
    ServerContext &c = m_context;
    std::unique_ptr<IV4l2Device> device = Device();
    TunerInfo tuner;
    if (device && device->GetTuner(tuner) == 0) {
        m_tunerFound = true;
        const std::vector<TunerChannel> &table = Channels();
        auto tune = [&](int channel) {
            if (const std::optional<uint32_t> kHz = ChannelFrequency(table, channel))
                device->SetFrequency(TunerUnits(*kHz, tuner.lowUnits));
        };
        if (!deviceOnly) {
            TunerPageValues values;
            values.table = c.profile.GetProfileString(kChannelTableSection, kChannelTableKey,
                                                      kDefaultChannelTable);
            uint32_t units = 0;
            if (device->GetFrequency(units) == 0)
                values.channel = ChannelForFrequency(table, KiloHertz(units, tuner.lowUnits))
                                     .value_or(c.settings.Config.TvChannel);
            else
                values.channel = c.settings.Config.TvChannel;
            if (m_dialogs.RunTunerPage(values))
                tune(values.channel);
        } else if (c.view.RestartMark) {
            tune(c.settings.Config.TvChannel);
        }
        uint32_t units = 0;
        if (c.engine.TvMode && device->GetFrequency(units) == 0) {
            if (const std::optional<int> channel
                = ChannelForFrequency(table, KiloHertz(units, tuner.lowUnits)))
                c.shell.SetPaneText(kPaneCamera, std::to_string(*channel));
        }
    }
    c.view.HasTvTuner = m_tunerFound;
}

void DevicePages::ShowVideoCapturePage(bool deviceOnly)
{
    m_captureFound = false;
    ServerContext &c = m_context;
    if (!CommonStart())
        return;
    if (!m_access.HasGraph()) {
        c.view.PropertyPageOpen = false;
        c.log.AppendErrorLog("call to VideoSettings has no pCap: ln7340");
        return;
    }
    c.view.PropertyPageOpen = true;
    std::unique_ptr<IV4l2Device> device = Device();
    DeviceConfig &config = c.settings.Config;
    if (device) {
        CapturePageValues values;
        values.standards = device->EnumStandards();
        values.controls = device->QueryControls();
        m_captureFound = !values.standards.empty() || !values.controls.empty();
        if (m_captureFound && !deviceOnly) {
            uint64_t current = 0;
            if (device->GetStandard(current) == 0) {
                for (size_t i = 0; i < values.standards.size(); ++i) {
                    if ((values.standards[i].id & current) != 0 && values.standard < 0)
                        values.standard = int(i);
                }
            }
            const CapturePageValues before = values;
            device.reset();
            if (m_dialogs.RunCapturePage(values)) {
                if (values.standard != before.standard && values.standard >= 0
                    && size_t(values.standard) < values.standards.size()) {
                    const uint64_t id = values.standards[size_t(values.standard)].id;
                    ApplyWithRebuild([id](IV4l2Device &d) { return d.SetStandard(id); });
                }
                device = Device();
                for (size_t i = 0; device && i < values.controls.size(); ++i) {
                    const DeviceControl &control = values.controls[i];
                    if (i < before.controls.size() && control.value != before.controls[i].value)
                        device->SetControl(control.id, control.value);
                }
            }
            if (!device)
                device = Device();
            uint64_t standard = 0;
            if (device && device->GetStandard(standard) == 0)
                if (const std::optional<int32_t> stored = TvFormatForStandard(standard))
                    config.TvFormat = *stored;
        }
    }
    if (deviceOnly && config.TvFormat >= 0) {
        if (const uint64_t id = StandardForTvFormat(config.TvFormat); id != 0 && m_captureFound)
            ApplyWithRebuild([id](IV4l2Device &d) { return d.SetStandard(id); });
    }
    c.view.HasVideoSettingsPage = m_captureFound;
    c.view.PropertyPageOpen = false;
    if (PropertyPageClosed)
        PropertyPageClosed();
}

void DevicePages::ShowVideoFormatPage()
{
    ServerContext &c = m_context;
    EngineState &e = c.engine;
    DeviceConfig &config = c.settings.Config;
    c.view.DeviceReady = true;
    if (!e.ViewWindow.load())
        e.ViewWindow = &c.sink;
    if (!m_access.HasGraph() && !m_access.OpenDeviceStage())
        e.KeepDeviceFilter = 0;

    CapsRef offered = m_access.OfferedCaps();
    const std::vector<FormatOption> options = FormatOptions(offered.get());
    if (options.empty()) {
        ShowErrorBox(c.notifier, "no Format menu found on this Video source.");
        return;
    }
    const StoredFormat stored { config.CaptureSubtype, config.Block.CaptureWidth,
                                config.Block.CaptureHeight, config.FrameDuration };
    FormatPageValues values = FormatPageFor(options, stored);

    e.KeepDeviceFilter = 1;
    m_graph.TearDownGraph();
    if (m_dialogs.RunFormatPage(values) && values.option >= 0
        && size_t(values.option) < values.options.size()) {
        const FormatOption &option = values.options[size_t(values.option)];
        config.CaptureSubtype = option.subtype;
        if (!option.sizes.empty()
            && std::find(option.sizes.begin(), option.sizes.end(), values.size)
                != option.sizes.end()) {
            config.Block.CaptureWidth = values.size.width;
            config.Block.CaptureHeight = values.size.height;
        }
        config.FrameDuration = values.frameDuration;
    }
    if (m_graph.BuildCaptureGraph(false) != BuildResult::Ok)
        c.view.DeviceReady = false;
    e.KeepDeviceFilter = 0;
    if (m_crossbarFound)
        ShowCrossbarPage(true);

    // What the device really took is what is kept.
    CapsRef negotiated = m_access.NegotiatedCaps();
    if (const std::optional<StoredFormat> format = FormatFromCaps(negotiated.get())) {
        config.CaptureSubtype = format->subtype;
        config.Block.CaptureWidth = format->width;
        config.Block.CaptureHeight = format->height;
        config.FrameDuration = format->frameDuration;
    }
    SaveDeviceSettings(c);

    const int cameras = std::clamp<int>(e.CameraCount, 1, 4);
    const int width = e.FrameWidth > 0 ? int(e.FrameWidth) : config.Block.CaptureWidth;
    const int height
        = e.FrameHeight > 0 ? int(e.FrameHeight) : std::abs(config.Block.CaptureHeight);
    c.shell.UpdateLayout(width * (cameras >= 2 ? 2 : 1), height * (cameras >= 3 ? 2 : 1));
    for (int camera = 1; camera <= 4; ++camera)
        e.ClearLiveFrame(camera);
    c.shell.Repaint(0);
}

void DevicePages::ChooseAudioInput()
{
    ServerContext &c = m_context;
    DeviceConfig &config = c.settings.Config;
    const std::optional<std::vector<std::string>> current
        = m_access.ListAudioInputs(config.AudioDevice);
    if (!current)
        return;

    AudioDeviceValues values;
    values.RecordAudio = config.RecordAudio ? 1 : 0;
    std::optional<size_t> deviceIndex;
    for (size_t i = 0; i < kMaxAudioDevicesListed; ++i) {
        const std::string &name = c.view.AudioDeviceNames[i];
        if (name.empty())
            break;
        values.DeviceNames[i] = name;
        if (!deviceIndex && MatchesStoredName(name, config.AudioDevice, kAudioDeviceWidth)) {
            deviceIndex = i;
            continue;
        }
        if (const std::optional<std::vector<std::string>> lines = m_access.ListAudioInputs(name))
            for (size_t l = 0; l < lines->size() && l < kMaxAudioLines; ++l)
                values.LineTable[i][l] = (*lines)[l];
    }
    // A stored device that is not listed any more: the lines shown belong to the first one.
    values.DeviceIndex = int(deviceIndex.value_or(0));
    if (deviceIndex) {
        AudioLines &row = values.LineTable[*deviceIndex];
        row = {};
        for (size_t l = 0; l < current->size() && l < kMaxAudioLines; ++l)
            row[l] = (*current)[l];
    }
    values.CurrentLines = values.LineTable[size_t(values.DeviceIndex)];
    values.LineIndex = 0;
    for (size_t l = 0; l < kMaxAudioLines; ++l) {
        if (!values.CurrentLines[l].empty()
            && MatchesStoredName(values.CurrentLines[l], config.AudioInput, kAudioInputWidth)) {
            values.LineIndex = int(l);
            break;
        }
    }
    values.LevelIndex = config.InputLevel;

    if (!m_dialogs.RunAudioDevice(values))
        return;
    EngineState &e = c.engine;
    if ((values.RecordAudio != 0) != (config.RecordAudio != 0)) {
        config.RecordAudio = values.RecordAudio ? 1 : 0;
        e.KeepDeviceFilter = 1;
        m_graph.TearDownGraph();
    }
    if (config.RecordAudio) {
        const size_t device
            = size_t(std::clamp(values.DeviceIndex, 0, int(kMaxAudioDevicesListed) - 1));
        const std::string &chosen = values.DeviceNames[device];
        const AudioLines &row = values.LineTable[device];
        if (!chosen.empty() && !MatchesStoredName(chosen, config.AudioDevice, kAudioDeviceWidth)) {
            config.AudioDevice = StoredText(chosen, kAudioDeviceWidth);
            e.KeepDeviceFilter = 0;
            m_graph.BuildCaptureGraph(false);
        }
        if (values.LineIndex >= 0 && size_t(values.LineIndex) < kMaxAudioLines) {
            const std::string &line = row[size_t(values.LineIndex)];
            if (!line.empty() && !MatchesStoredName(line, config.AudioInput, kAudioInputWidth))
                config.AudioInput = StoredText(line, kAudioInputWidth);
        }
        if (values.LevelIndex >= 0 && values.LevelIndex <= 2)
            config.InputLevel = values.LevelIndex;
        m_access.ApplyAudioInput();
    }
    SaveDeviceSettings(c);
}

} // namespace vorlund
