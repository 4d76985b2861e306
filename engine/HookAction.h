// What the picture hooks do with the next decoded picture, as the engine's before-hook event
// decides it.
#ifndef SOUNDPICK_ENGINE_HOOKACTION_H
#define SOUNDPICK_ENGINE_HOOKACTION_H

enum THookAction { haContinue, haIgnore, haStop };

#endif
