// Reference counting and interface lookup for every COM-style object of our
// own (the Linux plug-in, outpost and the served test plug-ins), written
// once, in the manner of the full SDK's U::Implements and FObject (the
// Debian subset lacks funknownimpl.h). A class names the interfaces it
// implements and inherits FUnknown's three methods:
//
//   class Stream : public Tandem::RefCounted<IBStream, ISizeableStream> {...};
//   class Component : public Tandem::RefCounted<Vst::IComponent,
//                         Tandem::Indirectly<Vst::IPluginBase>, Vst::IConnectionPoint> {...};
//   class Both : public Tandem::Extends<Component, Vst::IEditController> {...};
//   class Queue : public Tandem::Embedded<Vst::IParamValueQueue> {...};
//
// RefCounted: an object on the heap. It starts with one reference, its
//   creator's, and deletes itself when the last one goes; the count is
//   atomic and each release decides on the count it made itself, so two
//   last releases on two threads cannot both delete.
// Embedded: an object that lives inside another (a member, an element of
//   a vector), whose life is its owner's: its count stays at one and it is
//   never deleted by a release. Nothing is written on addRef or release, so
//   it suits objects the audio thread hands out.
// Extends<Base, ...>: a RefCounted or Embedded class with more interfaces;
//   its own are looked up first, then Base's.
// Indirectly<I>: I is answered but not inherited again: it is a base of a
//   listed interface (IPluginBase of IComponent or IEditController), and is
//   answered through the first listed interface derived from it.
//
// queryInterface answers each listed interface and FUnknown (through the
// first listed one), adds a reference to what it hands out, and sets the
// result to null otherwise. A class may still override queryInterface to
// refuse an interface its base answers, and then call the template's.
#pragma once

#include <atomic>
#include <type_traits>

#include "pluginterfaces/base/funknown.h"

namespace Tandem {

template <class Interface>
struct Indirectly
{
};

namespace RefCountedDetail {

// What a listed entry inherits: the interface itself, or for an indirect
// one a distinct empty type.
template <class Interface>
struct Nothing
{
};
template <class Entry>
struct BaseOf
{
	using type = Entry;
};
template <class Interface>
struct BaseOf<Indirectly<Interface>>
{
	using type = Nothing<Interface>;
};

// The interface an entry answers.
template <class Entry>
struct Answered
{
	using type = Entry;
	static constexpr bool inherited = true;
};
template <class Interface>
struct Answered<Indirectly<Interface>>
{
	using type = Interface;
	static constexpr bool inherited = false;
};

template <class...>
constexpr bool kNoneFits = false;

// `self` as a `Wanted*`, through the first inherited entry derived from it.
template <class Wanted, class Self, class Entry, class... Rest>
Wanted* through (Self* self)
{
	if constexpr (Answered<Entry>::inherited && std::is_base_of_v<Wanted, Entry>)
	{
		return static_cast<Wanted*> (static_cast<Entry*> (self));
	}
	else if constexpr (sizeof...(Rest) > 0)
	{
		return through<Wanted, Self, Rest...> (self);
	}
	else
	{
		static_assert (kNoneFits<Wanted>, "no listed interface derives from the one answered indirectly");
		return nullptr;
	}
}

// The pointer that answers `iid` among the entries, or null.
template <class Self, class... Entries>
void* find (Self* self, const Steinberg::TUID iid)
{
	void* found = nullptr;
	((Steinberg::FUnknownPrivate::iidEqual (iid, Answered<Entries>::type::iid) &&
	  (found = through<typename Answered<Entries>::type, Self, Entries...> (self))) ||
	 ...);
	return found;
}

// The count of an object on the heap.
class HeapCount
{
public:
	HeapCount () = default;
	HeapCount (const HeapCount&) = delete;
	HeapCount& operator= (const HeapCount&) = delete;

protected:
	virtual ~HeapCount () = default;
	// Called once the last reference is gone, before the object is
	// deleted, while it is still whole (its overrides still reached).
	virtual void lastReleased () {}

	Steinberg::uint32 addReference () { return count_.fetch_add (1, std::memory_order_relaxed) + 1; }
	// The count this release made: at 0 the caller deletes the object.
	Steinberg::uint32 dropReference () { return count_.fetch_sub (1, std::memory_order_acq_rel) - 1; }

private:
	std::atomic<Steinberg::uint32> count_ {1};
};

// The count of an object whose owner holds it: always one.
class FixedCount
{
protected:
	static Steinberg::uint32 addReference () { return 1; }
	static Steinberg::uint32 dropReference () { return 1; }
};

template <class Base>
constexpr bool kIsRoot = std::is_same_v<Base, HeapCount> || std::is_same_v<Base, FixedCount>;

template <class Base>
using ExtendedFirst = std::conditional_t<kIsRoot<Base>, Nothing<Base>, Base>;
template <class Base>
using CountLast = std::conditional_t<kIsRoot<Base>, Base, Nothing<Base>>;

} // namespace RefCountedDetail

// The count comes after the interfaces, so that the object's address is
// its first interface's, as with a class that counts by hand; an extended
// class comes first, for the same reason.
template <class Base, class... Entries>
class Extends : public RefCountedDetail::ExtendedFirst<Base>,
                public RefCountedDetail::BaseOf<Entries>::type...,
                public RefCountedDetail::CountLast<Base>
{
public:
	using Base::Base;

	Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override
	{
		if (!obj)
			return Steinberg::kInvalidArgument;
		void* found = RefCountedDetail::find<Extends, Entries...> (this, iid);
		if constexpr (RefCountedDetail::kIsRoot<Base>)
		{
			if (!found && Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::FUnknown::iid))
				found = RefCountedDetail::through<Steinberg::FUnknown, Extends, Entries...> (this);
		}
		else
		{
			if (!found)
				return Base::queryInterface (iid, obj);
		}
		if (!found)
		{
			*obj = nullptr;
			return Steinberg::kNoInterface;
		}
		Base::addReference ();
		*obj = found;
		return Steinberg::kResultOk;
	}
	Steinberg::uint32 PLUGIN_API addRef () override { return Base::addReference (); }
	// Deleted through the class that starts the object (this one, or the
	// class deriving from it), never through a part further in.
	Steinberg::uint32 PLUGIN_API release () override
	{
		const Steinberg::uint32 left = Base::dropReference ();
		if constexpr (std::is_base_of_v<RefCountedDetail::HeapCount, Extends>)
		{
			if (left == 0)
			{
				this->lastReleased ();
				delete this;
			}
		}
		return left;
	}
};

template <class... Entries>
using RefCounted = Extends<RefCountedDetail::HeapCount, Entries...>;

template <class... Entries>
using Embedded = Extends<RefCountedDetail::FixedCount, Entries...>;

} // namespace Tandem
