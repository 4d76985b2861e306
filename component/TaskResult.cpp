// A task's result, copied out of its engine.
#include "component/TaskResult.h"

#include "component/FFmpegTask.h"
#include "engine/OutputTarget.h"
#include "ffbind/TextUtils.h"

TTaskEnd EndOf(const TFFmpeg& task) {
    if (task.ErrorOccurred)
        return teFailed;
    if (task.Finished)
        return task.WarningMessage.empty() && task.WarningSummary.empty() ? teFinished
                                                                          : teFinishedWithWarning;
    return task.Terminated ? teStopped : teNotEnded;
}

TTaskResult ResultOf(const TFFmpeg& task) {
    TTaskResult result;
    result.End = EndOf(task);
    if (task.ErrorOccurred)
        result.ErrorText = OneLineText(task.ErrorMessage);
    result.WarningText = task.WarningMessage;
    result.WarningSummary = task.WarningSummary;
    result.OutputFileName = task.OutputOptions.FileName;
    result.GainPlaceholders = task.Options().Choices.ReplayGain;
    result.InputFileName = task.InputOptions.FileName;
    if (task.OutputFileCount() > 0 && task.OutputSetupOf(0).Target.Created())
        result.WrittenFileName = task.OutputSetupOf(0).Target.WrittenName();
    if (task.MeasuredLoudness)
        result.Loudness =
            TTaskLoudness{task.MeasuredLoudness->IntegratedLufs, task.AppliedGain.GainDb,
                          task.AppliedGain.OutputLufs, task.AppliedGain.OutputTruePeakDbtp,
                          LoudnessSummary(*task.MeasuredLoudness, task.AppliedGain)};
    return result;
}
