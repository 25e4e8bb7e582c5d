// Recognition of a recording's file format by its contents (never its name): an audio container
// (WAV, RF64, Wave64, AIFF, AU, CAF, FLAC, Ogg, MPEG, and the rarer ones libsndfile reads) or,
// when no header is recognised, a raw recording (one unsigned byte per sample, 44100/s). For the
// containers whose header says so it also tells the layout (channels, rate, sample width) and
// whether the file holds all the audio its header announces.
// Portable and library-free, so that every build agrees on what is an audio file: the native
// console decoder reads one through libsndfile, a build without the library refuses it by name.
// Called on any thread; keeps no state. Fails only by saying so: a file that cannot be opened or
// read gives false and errno.
#ifndef QUORVANE_AUDIO_FORMAT_H
#define QUORVANE_AUDIO_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

enum AudioKind {
    kRawRecording = 0,  // no header recognised: every byte is a sample
    kWav,               // RIFF/RIFX WAVE, WAVE_FORMAT_EXTENSIBLE included
    kRf64,              // RF64 or BW64: WAVE with 64-bit sizes
    kWave64,            // Sony Wave64
    kAiff,              // AIFF and AIFF-C
    kAu,                // Sun/NeXT .snd
    kCaf,               // Apple Core Audio Format
    kFlac,              // native FLAC stream
    kOgg,               // Ogg container (Vorbis, Opus, FLAC inside)
    kMpeg,              // MPEG-1/2 audio (MP3) with an ID3 tag or two consecutive frame headers
    kVoc,               // Creative Voice File
    kIrcam,             // Berkeley/IRCAM/CARL
    kNist,              // NIST Sphere
    kPaf,               // Ensoniq PARIS
    kSvx,               // Amiga IFF 8SVX/16SV
    kMat5,              // Matlab 5 / Octave
    kPvf,               // Portable Voice Format
    kXi,                // FastTracker 2 instrument
    kSds,               // MIDI Sample Dump Standard
    kAvr,               // Audio Visual Research
    kWve,               // Psion Series 3
};

struct AudioFormat {
    AudioKind kind = kRawRecording;
    // What the header says, where it says it; 0 where it does not (compressed streams, the rarer
    // containers).
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    bool floatSamples = false;
    // The WAVE format tag (1 integer PCM, 3 float, ...; an extensible file's sub-format); 0 for
    // other containers.
    int waveTag = 0;
    // Where the audio data lies and how long the header says it is; dataBytes is -1 where the
    // container leaves it open ("to the end of the file", a stream written without seeking back).
    int64_t dataOffset = 0;
    int64_t dataBytes = -1;
    // Frames (one sample of every channel) the header announces; -1 when it does not.
    int64_t frames = -1;
    int64_t fileSize = 0;
    // The file is shorter than its header says: cut inside the header (headerCut) or inside the
    // audio data (truncated). A raw recording is neither.
    bool headerCut = false;
    bool truncated = false;
};

// The bytes of a file's beginning that recognition looks at first.
enum { kAudioProbeBytes = 4096 };

// Recognises a file from its contents. `readAt` reads up to `count` bytes at `offset` into `out`
// and returns how many it read (fewer at the end of the file); `fileSize` is the file's length.
AudioFormat RecogniseAudio(size_t (*readAt)(void* context, int64_t offset, uint8_t* out, size_t count),
                           void* context, int64_t fileSize);

// The same over a file's bytes held in memory.
AudioFormat RecogniseAudioBytes(const uint8_t* bytes, size_t size);

// Opens and recognises the file `path`. False (errno set) when it cannot be opened or read.
bool RecogniseAudioFile(const char* path, AudioFormat* format);

// The rate the decoder counts in: every threshold is a number of samples at 44100/s.
enum { kDecoderRate = 44100 };

// Channel choice: kMixChannels mixes every channel; 1..N takes that channel (1 is left, 2 right).
enum { kMixChannels = 0 };

// "left", "right" or a channel number from 1; false for anything else.
bool ParseAudioChannel(const char* text, int* channel);

// The container's name as people know it: "WAV", "FLAC", "Ogg", ..., "raw recording".
const char* AudioKindName(AudioKind kind);

// One line on what the file is, from what its header says: "WAV, 16-bit integer, 2 channels,
// 48000 samples/s, 19.87 s".
std::string DescribeAudioFormat(const AudioFormat& format);

// What is wrong with the file's header or length, or "" when nothing is: "it is cut inside its
// header", "it is truncated: its header announces 953695 frames, the file holds 476842".
std::string AudioFormatDamage(const AudioFormat& format);

#endif
