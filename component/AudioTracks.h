// The audio tracks of an input as a front end lists them, and the track a user names by number
// or language.
#ifndef SOUNDPICK_COMPONENT_AUDIOTRACKS_H
#define SOUNDPICK_COMPONENT_AUDIOTRACKS_H

#include <string>
#include <vector>

struct AVFormatContext;

struct TAudioTrack {
    int StreamIndex = -1; // in the file
    int Number = 0;       // 1-based among the file's audio tracks, as the lists show it
    std::string Language; // the file's language tag ("ger", "eng"); empty when unknown
    std::string Codec;    // as the libraries name it ("aac")
    int Channels = 0;
    std::string Title;
    bool Default = false; // the file flags it as its default sound
};

std::vector<TAudioTrack> AudioTracksOf(const AVFormatContext& input);

// The track a file converts unless told otherwise: the default-flagged one, else the first;
// nullptr without tracks.
const TAudioTrack* DefaultAudioTrack(const std::vector<TAudioTrack>& tracks);

// The track named by "N" (its 1-based number) or by a language code in any of its ISO 639
// forms ("ger", "deu" and "de" name the same): the first of that language. nullptr when none.
const TAudioTrack* FindAudioTrack(const std::vector<TAudioTrack>& tracks, const std::string& name);

// "2: ger, aac, 2 ch, Kommentar (default)" as the dialog lists it.
std::string AudioTrackCaption(const TAudioTrack& track);

#endif
