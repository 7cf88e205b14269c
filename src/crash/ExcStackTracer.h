// Call stack capture: a tracer that finds candidate return addresses on the
// stack, and the call stack list that annotates them with module, unit,
// procedure, source file and line and renders them as text.
#pragma once
#include <cstdint>
#include <vector>

#include "rtl/StringList.h"

namespace crash {

class TModuleDebugInfo;

struct TExcStackFrame {
    TExcStackFrame* PrevEBP;
    uint32_t ReturnAddress;
};

enum TExcStackTracerMode : uint8_t { traceFrames = 0, traceParanoid = 1 };

struct TExcCallStackItem {
    TExcStackFrame* PrevEBP;
    uint32_t ReturnAddress;
    void* ArgsPtr;
    TExcStackFrame* StackFrame;  // also known as DumpPtr
};

class TExcGenericStackTracer {
public:
    void Initialize(TExcStackTracerMode mode, bool suppressRecursion, void* stackBottom, void* stackTop);
    bool Next(TExcCallStackItem& item);

    // Whether the bytes before `r` end with a call instruction (or a return).
    static bool IsValidReturnAddress(uint32_t r);
    static bool IsValidCodeAddr(uint32_t p);

private:
    bool IsInStack(uintptr_t p) const { return p >= FStackBottom && p <= FStackTop; }
    TExcStackTracerMode FMode = traceParanoid;
    uintptr_t FStackBottom = 0;
    uintptr_t FStackTop = 0;
    uintptr_t FCurStackPtr = 0;
    uintptr_t FCurFrame = 0;
};

struct TCallStackItem {
    TModuleDebugInfo* DebugModule;
    uint32_t CallAddress;
    int32_t ModuleNameIndex;
    int32_t ProcNameIndex;
    int32_t FileNameIndex;
    int32_t FileLineNumber;
    int32_t NestingLevel;
};

class TExcCallStack {
public:
    void Clear();
    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    // Copies entry `index` into `item`; out of range leaves it untouched.
    void GetItem(int32_t index, TCallStackItem& item) const;
    void GenerateFromAddr(const void* address, const void* stackPtr, int32_t maxSize, bool suppressRecursion);
    __attribute__((noinline)) void Generate(int32_t maxSize, bool suppressRecursion);
    void Dump(rtl::TStringList& dest) const;

private:
    void AddAddress(uint32_t address, uint32_t& lastAddress);
    std::vector<TCallStackItem> FItems;  // capacity reserved once per generation
};

}  // namespace crash
