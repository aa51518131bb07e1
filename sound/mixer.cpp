#include "sound/sound.h"

namespace {

// A full ring means the mixer has stopped taking requests; losing a cue then
// is better than holding up a frame.
void request(Sound& sound, CueRequest cueRequest) {
    const std::uint32_t count = sound.requested.load(std::memory_order_relaxed);
    if (count - sound.taken.load(std::memory_order_acquire) == REQUEST_SLOTS) return;
    sound.requests[count % REQUEST_SLOTS] = cueRequest;
    sound.requested.store(count + 1, std::memory_order_release);
}

}  // namespace

void Voice::start(const Samples* cue) {
    samples = cue;
    position = 0;
    cutting = false;
    queued = nullptr;
}

void Voice::cut(const Samples* then) {
    if (samples == nullptr) return start(then);
    if (!cutting) {
        cutting = true;
        fadeLeft = CUT_FADE;
    }
    queued = then;
}

std::int32_t Voice::next() {
    if (samples == nullptr) return 0;
    std::int32_t sample = (*samples)[position++];
    if (cutting) sample = sample * fadeLeft-- / CUT_FADE;
    if (position == samples->size() || (cutting && fadeLeft == 0)) start(queued);
    return sample;
}

void Sound::play(Cue cue, std::int32_t score) {
    if (live && !muted) request(*this, {&cues.of(cue, score), voiceOf(cue)});
}

void Sound::toggleMute() {
    muted = !muted;
    if (muted && live) request(*this, {});
}

void Sound::mix(std::int16_t* out, std::size_t count) {
    std::uint32_t next = taken.load(std::memory_order_relaxed);
    for (const std::uint32_t end = requested.load(std::memory_order_acquire); next != end; ++next) {
        const CueRequest& cueRequest = requests[next % REQUEST_SLOTS];
        if (cueRequest.voice == VOICE_COUNT) {
            for (Voice& voice : voices) voice.cut(nullptr);
        } else {
            voices[cueRequest.voice].cut(cueRequest.samples);
        }
    }
    taken.store(next, std::memory_order_release);
    // Each voice stays within its peak, and the peaks add up to less than full
    // scale: the sum needs no clamping.
    for (std::size_t i = 0; i < count; ++i) {
        std::int32_t sum = 0;
        for (Voice& voice : voices) sum += voice.next();
        out[i] = static_cast<std::int16_t>(sum);
    }
}
