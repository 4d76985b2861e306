// Fuzz target over one whole conversion: any bytes as an input file, converted by the component
// to mp3 and to m4a with the options the command line assembles. At most a few seconds of
// output are written, so that an input declaring a huge duration still ends quickly.
#include "component/FFmpegComponent.h"
#include "component/OutputAssembly.h"
#include "fuzz/FuzzScratch.h"

namespace {

constexpr int MaxOutputMs = 3000;

void Convert(TFFmpegComponent& component, const TFuzzScratch& scratch, TOutputFormatId format) {
    TOutputChoices choices;
    choices.InputFileName = scratch.Input();
    choices.Format = format;
    choices.OutputFolder = scratch.Outputs();
    choices.Overwrite = true;
    TOutputOptions output = BuildOutputOptions(choices);
    output.DurationMs = MaxOutputMs;
    const TInputOptions input = BuildInputOptions(choices);
    const int index = component.AddTaskInput(input.FileName, &input);
    if (index >= 0 && component.SetTaskOutput(index, output.FileName, &output))
        component.StartTasks(0); // converts on this thread and returns at its end
    component.ClearTaskList();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFuzzScratch scratch;
    static TFFmpegComponent component;
    scratch.Write(data, size);
    for (const TOutputFormatId format : {fmMp3, fmM4a}) {
        Convert(component, scratch, format);
        scratch.EmptyOutputs();
    }
    return 0;
}
