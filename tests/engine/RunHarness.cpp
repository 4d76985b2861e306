// The engine run tests' helpers.
#include "RunHarness.h"

#include "ffbind/MainThread.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <cstdlib>

TLogCapture::TLogCapture() {
    GetLogger()->SetLogLevel(llVerbose);
    GetLogger()->SetOnLog([this](const void*, unsigned, TLogLevel level, const std::string& text) {
        Lines.emplace_back(level, text);
    });
}

TLogCapture::~TLogCapture() {
    GetLogger()->SetOnLog(nullptr);
}

int TLogCapture::IndexOf(const std::string& text) const {
    for (std::size_t i = 0; i < Lines.size(); ++i)
        if (Lines[i].second.find(text) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

bool TLogCapture::Contains(const std::string& text) const {
    return IndexOf(text) >= 0;
}

int TLogCapture::LevelOf(const std::string& text) const {
    const int index = IndexOf(text);
    return index < 0 ? -1 : Lines[index].first;
}

TEngineUnderTest::TEngineUnderTest() {
    EnsureLibsLoaded();
    Engine = std::make_unique<TEngineOpen>();
    Engine->Reset();
    Engine->OnTerminate = [this](TCustomFFmpeg* sender) {
        // A run has released its record before it reports its end.
        EXPECT_FALSE(sender->HasRunRecord());
        ++Terminations;
    };
    Engine->OnProgress = [this](TCustomFFmpeg*, const TProgressInfo&) { ++Progresses; };
}

TEngineUnderTest::~TEngineUnderTest() {
    Engine.reset();
}

void TEngineUnderTest::OpenInputs(const TOptionList& options,
                                  const std::vector<std::filesystem::path>& inputs) {
    for (const auto& [name, value] : options)
        Engine->SetOption(name, value);
    for (const auto& input : inputs)
        ASSERT_TRUE(Engine->OpenInputFile(input)) << Engine->LastError;
}

void TEngineUnderTest::CreateOutput(const TOptionList& options, const std::filesystem::path& output,
                                    bool join) {
    for (const auto& [name, value] : options)
        Engine->SetOption(name, value);
    ASSERT_GT(Engine->OpenOutputFile(output, join ? ojJoin : ojSeparate), 0) << Engine->LastError;
}

TServedThread* TEngineUnderTest::Start(bool startWorker) {
    TServedThread* worker = Engine->StartConvert(ctWorkerThread, cpNormal);
    if (worker && startWorker)
        worker->Start();
    return worker;
}

void TEngineUnderTest::WaitForEnd() {
    WaitServingMainThread([this] { return Terminations.load() > 0; });
}

void TEngineUnderTest::RunToEnd() {
    Start();
    WaitForEnd();
}

int ProbePacketCount(const std::filesystem::path& file, const std::string& kind) {
    const std::string value =
        ProbeValue(file, "stream=nb_read_packets -count_packets", kind + ":0");
    return value.empty() ? -1 : std::atoi(value.c_str());
}

bool ProbeFirstPacketIsKey(const std::filesystem::path& file, const std::string& kind) {
    const std::string flags = ProbeValue(file, "packet=flags -read_intervals %+#1", kind + ":0");
    return !flags.empty() && flags[0] == 'K';
}
