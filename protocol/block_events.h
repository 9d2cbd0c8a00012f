// The events of one block, as they cross the file (event_data.h): the Linux
// side writes the host's and reads the served processor's; outpost the other
// way round. Both run on the audio threads: nothing allocates, locks or
// logs here; the callers log what was left out.
#pragma once

#include "protocol/event_data.h"

#include "pluginterfaces/vst/ivstevents.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Tandem {

static_assert(sizeof(Steinberg::Vst::Event) == kEventRecordSize, "Event layout");
static_assert(offsetof(Steinberg::Vst::Event, noteOn) == 24, "Event layout");
static_assert(offsetof(Steinberg::Vst::Event, data.bytes) == 32, "Event layout");
static_assert(offsetof(Steinberg::Vst::Event, noteExpressionText.text) == 40, "Event layout");
static_assert(offsetof(Steinberg::Vst::Event, chord.text) == 32, "Event layout");
static_assert(offsetof(Steinberg::Vst::Event, scale.text) == 32, "Event layout");
static_assert(sizeof(void*) == 8, "a record's byte offset takes a pointer's place");

// Why events were left out, counted per block.
struct EventCuts {
    std::int32_t full = 0;       // beyond kMaxEvents
    std::int32_t tooLarge = 0;   // bytes beyond what the block has left
    std::int32_t outside = 0;    // offset outside the block
    std::int32_t noBus = 0;      // bus that does not exist
    std::int32_t malformed = 0;  // unknown type, bytes missing or out of bounds
    bool any() const { return full + tooLarge + outside + noBus + malformed != 0; }
};

// Where a record keeps its bytes' offset, and how many bytes it has: 0 when
// the event type has none. A text's bytes hold its terminating zero.
inline std::size_t eventBytesSlot(std::uint16_t type) {
    using E = Steinberg::Vst::Event;
    switch (type) {
    case E::kDataEvent: return offsetof(E, data.bytes);
    case E::kNoteExpressionTextEvent: return offsetof(E, noteExpressionText.text);
    case E::kChordEvent: return offsetof(E, chord.text);
    case E::kScaleEvent: return offsetof(E, scale.text);
    default: return 0;
    }
}

inline bool knownEventType(std::uint16_t type) {
    using E = Steinberg::Vst::Event;
    return type <= E::kScaleEvent || type == E::kLegacyMIDICCOutEvent;
}

// Bytes the event carries, as its own fields say (64-bit: a length from
// the other process cannot overflow it).
inline std::uint64_t eventByteCount(const Steinberg::Vst::Event& e) {
    using E = Steinberg::Vst::Event;
    switch (e.type) {
    case E::kDataEvent: return e.data.size;
    case E::kNoteExpressionTextEvent: return 2 * (std::uint64_t{e.noteExpressionText.textLen} + 1);
    case E::kChordEvent: return 2 * (std::uint64_t{e.chord.textLen} + 1);
    case E::kScaleEvent: return 2 * (std::uint64_t{e.scale.textLen} + 1);
    default: return 0;
    }
}

// Fills one direction's block, event by event, checking each against the
// block's length and the buses that exist; finish() publishes the counts.
class EventWriter {
public:
    EventWriter(EventBlock& block, std::int32_t numSamples, std::int32_t busCount)
        : block_(&block), numSamples_(numSamples), busCount_(busCount) {}

    // False, counting why, when the event is left out.
    bool add(const Steinberg::Vst::Event& e) {
        using E = Steinberg::Vst::Event;
        if (!knownEventType(e.type)) return ++cuts.malformed, false;
        if (e.busIndex < 0 || e.busIndex >= busCount_) return ++cuts.noBus, false;
        // A block of no samples takes events at its start (parameters-only calls).
        if (e.sampleOffset < 0 || (e.sampleOffset >= numSamples_ && !(numSamples_ == 0 && e.sampleOffset == 0)))
            return ++cuts.outside, false;
        if (count_ == kMaxEvents) return ++cuts.full, false;
        std::uint8_t* record = block_->records[count_];
        std::memcpy(record, &e, kEventRecordSize);
        if (const std::size_t slot = eventBytesSlot(e.type)) {
            const void* from = nullptr;
            std::memcpy(&from, reinterpret_cast<const std::uint8_t*>(&e) + slot, sizeof from);
            const std::uint64_t size = eventByteCount(e);
            const bool text = e.type != E::kDataEvent;
            // A text without its pointer is an empty text; data without bytes is none.
            if (!from && (!text || size > 2)) return ++cuts.malformed, false;
            const std::uint64_t at = (static_cast<std::uint64_t>(bytes_) + 7) & ~std::uint64_t{7};
            if (size > kMaxEventBytes || at + size > kMaxEventBytes) return ++cuts.tooLarge, false;
            if (text) {
                // The text as long as it says, ended here whatever followed it.
                if (from) std::memcpy(block_->bytes + at, from, size - 2);
                block_->bytes[at + size - 2] = 0;
                block_->bytes[at + size - 1] = 0;
            } else if (size) {
                std::memcpy(block_->bytes + at, from, size);
            }
            std::memcpy(record + slot, &at, sizeof at);
            bytes_ = static_cast<std::int32_t>(at + size);
        }
        ++count_;
        return true;
    }
    void finish() {
        block_->count = count_;
        block_->bytesUsed = bytes_;
    }
    std::int32_t count() const { return count_; }
    // Starts a block anew (outpost's list reused for each block).
    void restart(EventBlock& block, std::int32_t numSamples, std::int32_t busCount) {
        block_ = &block;
        numSamples_ = numSamples;
        busCount_ = busCount;
        count_ = bytes_ = 0;
        cuts = {};
    }

    EventCuts cuts;

private:
    EventBlock* block_;
    std::int32_t numSamples_;
    std::int32_t busCount_;
    std::int32_t count_ = 0;
    std::int32_t bytes_ = 0;
};

// Reads a block written by the other process into `into` (an IEventList,
// or a final class of it): counts and offsets are clamped, every record is
// checked as the writer checks it, and its bytes are copied into `scratch`
// (kMaxEventBytes, the reader's own) so that the pointers handed on stay
// valid and unchanged until the next block. Returns the events `into` took.
template <typename Events>
std::int32_t readEvents(const EventBlock& block, std::int32_t numSamples, std::int32_t busCount,
                        std::uint8_t* scratch, Events& into, EventCuts& cuts) {
    const std::int32_t count = clampCount(block.count, kMaxEvents);
    if (count == 0) return 0;
    const std::int32_t bytesUsed = clampCount(block.bytesUsed, kMaxEventBytes);
    std::memcpy(scratch, block.bytes, static_cast<std::size_t>(bytesUsed));
    std::int32_t taken = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        Steinberg::Vst::Event e;
        std::memcpy(&e, block.records[i], kEventRecordSize);
        if (!knownEventType(e.type)) {
            ++cuts.malformed;
            continue;
        }
        if (e.busIndex < 0 || e.busIndex >= busCount) {
            ++cuts.noBus;
            continue;
        }
        if (e.sampleOffset < 0 || (e.sampleOffset >= numSamples && !(numSamples == 0 && e.sampleOffset == 0))) {
            ++cuts.outside;
            continue;
        }
        if (const std::size_t slot = eventBytesSlot(e.type)) {
            std::uint64_t at = 0;
            std::memcpy(&at, block.records[i] + slot, sizeof at);
            const std::uint64_t size = eventByteCount(e);
            if (at > static_cast<std::uint64_t>(bytesUsed) || size > static_cast<std::uint64_t>(bytesUsed) - at ||
                (e.type != Steinberg::Vst::Event::kDataEvent && (size < 2 || at % 2 != 0))) {
                ++cuts.malformed;
                continue;
            }
            std::uint8_t* bytes = scratch + at;
            if (e.type != Steinberg::Vst::Event::kDataEvent) bytes[size - 2] = bytes[size - 1] = 0;
            std::memcpy(reinterpret_cast<std::uint8_t*>(&e) + slot, &bytes, sizeof bytes);
        }
        if (into.addEvent(e) == Steinberg::kResultOk) ++taken;
    }
    return taken;
}

}  // namespace Tandem
