#include "crash/ExcStackTracer.h"

#include <cstring>

#include "crash/ModuleDebugInfo.h"
#include "crash/ZudAvizi.h"
#include "env/OwnMemory.h"
#include "rtl/FilePath.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace crash {

namespace {

thread_local const TStackSnapshot* tSnapshot = nullptr;

bool ReadWord(uintptr_t p, uint32_t& w) {
    if (tSnapshot && tSnapshot->Read(static_cast<uint32_t>(p), &w, 4)) return true;
    return env::ReadOwnMemory(reinterpret_cast<void*>(p), &w, 4);
}

}  // namespace

// --- stack snapshot ---

void TStackSnapshot::Take(uint32_t esp, uint32_t stackTop) {
    Base = esp;
    Size = 0;
    StackTop = stackTop;
    if (stackTop <= esp) return;
    uint32_t n = stackTop - esp < cCapacity ? stackTop - esp : cCapacity;
    // The committed part of this thread's own stack is copied directly: the
    // guarded read costs a round trip to the system on every exception.
    const auto limit = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(env::GetStackLimit()));
    const auto top = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(env::GetStackTop()));
    if (stackTop == top && limit <= esp && esp < top) {
        std::memcpy(Bytes, reinterpret_cast<const void*>(static_cast<uintptr_t>(esp)), n);
        Size = n;
        return;
    }
    // Another stack may end in a page that cannot be read: halve until a
    // read succeeds.
    while (n >= 4 && !env::ReadOwnMemory(reinterpret_cast<void*>(static_cast<uintptr_t>(esp)), Bytes, n)) n /= 2;
    Size = n >= 4 ? n : 0;
}

bool TStackSnapshot::Read(uint32_t address, void* buffer, uint32_t count) const {
    if (address < Base || count > Size || address - Base > Size - count) return false;
    std::memcpy(buffer, Bytes + (address - Base), count);
    return true;
}

void SetStackSnapshot(const TStackSnapshot* snapshot) { tSnapshot = snapshot; }

// --- tracer ---

bool TExcGenericStackTracer::IsValidCodeAddr(uint32_t p) {
    // Committed, executable memory: what IsBadCodePtr answers, without
    // probing the address.
    MEMORY_BASIC_INFORMATION info{};
    if (!p || !VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(p)), &info, sizeof(info))) return false;
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS))) return false;
    return (info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

bool TExcGenericStackTracer::IsValidReturnAddress(uint32_t r) {
    if (!IsValidCodeAddr(r)) return false;
    uint8_t raw[8];
    if (!env::ReadOwnMemory(reinterpret_cast<void*>(static_cast<uintptr_t>(r - 8)), raw, 8)) return true;
    auto b = [&](int k) -> uint8_t { return raw[8 - k]; };  // b(k) is the byte at r - k
    int32_t rel;
    std::memcpy(&rel, raw + 4, 4);  // the four bytes b(4) .. b(1)
    if (b(5) == 0xE8 && IsValidCodeAddr(r + static_cast<uint32_t>(rel))) return true;
    if (b(2) == 0xFF && (b(1) & 0xF8) == 0x10 && b(1) != 0x14) return true;
    if (b(7) == 0xFF && b(6) == 0x14 && (b(5) & 0x05) == 0x05) return true;
    if (b(3) == 0xFF && b(2) == 0x14 && (b(1) & 0x05) != 0x05) return true;
    if (b(6) == 0xFF && b(5) == 0x15) return true;
    if (b(3) == 0xFF && (b(2) & 0xF8) == 0x50 && b(2) != 0x54) return true;
    if (b(4) == 0xFF && b(3) == 0x54) return true;
    if (b(6) == 0xFF && (b(5) & 0xF8) == 0x90 && b(5) != 0x94) return true;
    if (b(7) == 0xFF && b(6) == 0x94) return true;
    if (b(2) == 0xFF && (b(1) & 0xF8) == 0xD0) return true;
    if (b(1) == 0xC3) return true;
    return false;
}

void TExcGenericStackTracer::Initialize(TExcStackTracerMode mode, bool, void* stackBottom, void* stackTop) {
    FMode = mode;
    FStackBottom = reinterpret_cast<uintptr_t>(stackBottom);
    FStackTop = reinterpret_cast<uintptr_t>(stackTop);
    FCurStackPtr = FStackBottom;
    FCurFrame = FStackBottom;
}

bool TExcGenericStackTracer::Next(TExcCallStackItem& item) {
    if (FMode == traceFrames) {
        bool found = false;
        while (!found && IsInStack(FCurFrame)) {
            uint32_t prev = 0, ret = 0;
            if (!ReadWord(FCurFrame, prev) || !ReadWord(FCurFrame + 4, ret)) return false;
            if (IsValidCodeAddr(ret)) {
                item.ReturnAddress = ret;
                item.StackFrame = reinterpret_cast<TExcStackFrame*>(FCurFrame);
                item.ArgsPtr = reinterpret_cast<void*>(FCurFrame + 8);
                item.PrevEBP = reinterpret_cast<TExcStackFrame*>(static_cast<uintptr_t>(prev));
                found = true;
            }
            if (prev <= FCurFrame)
                FCurFrame = FStackTop + 1;  // a chain must climb; stop otherwise
            else
                FCurFrame = prev;
        }
        return found;
    }
    if (FMode == traceParanoid) {
        bool found = false;
        while (!found && IsInStack(FCurStackPtr)) {
            uint32_t w = 0;
            if (ReadWord(FCurStackPtr, w) && IsValidReturnAddress(w)) {
                item.ReturnAddress = w;
                uint32_t prev = 0;
                if (FCurFrame + 4 == FCurStackPtr && ReadWord(FCurFrame, prev)) {
                    item.StackFrame = reinterpret_cast<TExcStackFrame*>(FCurFrame);
                    item.ArgsPtr = reinterpret_cast<void*>(FCurFrame + 8);
                    item.PrevEBP = reinterpret_cast<TExcStackFrame*>(static_cast<uintptr_t>(prev));
                    FCurFrame = prev;
                } else {
                    item.StackFrame = nullptr;
                    item.ArgsPtr = nullptr;
                    item.PrevEBP = nullptr;
                }
                found = true;
            }
            FCurStackPtr += 4;
        }
        return found;
    }
    return false;
}

// --- call stack ---

void TExcCallStack::Clear() {
    FItems.clear();
    FItems.shrink_to_fit();
}

void TExcCallStack::GetItem(int32_t index, TCallStackItem& item) const {
    if (index >= 0 && index < Count()) item = FItems[static_cast<size_t>(index)];
}

void TExcCallStack::AddAddress(uint32_t address, uint32_t& lastAddress) {
    TZudAvizi* m = ZudAvizi();
    TModuleDebugInfo* module = m ? m->FindModule(reinterpret_cast<void*>(static_cast<uintptr_t>(address))) : nullptr;
    if (!module) return;
    if (address == lastAddress && !FItems.empty()) {
        ++FItems.back().NestingLevel;
        return;
    }
    TCallStackItem item{module, address, -1, -1, -1, -1, 1};
    uint32_t logical = module->GetConvertedAddress(reinterpret_cast<void*>(static_cast<uintptr_t>(address - 1)));
    int32_t lineStart = 0;
    module->FindSourceLine(logical, item.FileNameIndex, item.FileLineNumber, lineStart);
    module->FindModuleProc(logical, item.ModuleNameIndex, item.ProcNameIndex);
    FItems.push_back(item);
    lastAddress = address;
}

void TExcCallStack::GenerateFromAddr(const void* address, const void* stackPtr, int32_t maxSize,
                                     bool suppressRecursion) {
    Clear();
    if (maxSize <= 0) return;
    FItems.reserve(static_cast<size_t>(maxSize));
    uint32_t last = 0;
    AddAddress(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)), last);
    TExcGenericStackTracer tracer;
    void* top = tSnapshot ? reinterpret_cast<void*>(static_cast<uintptr_t>(tSnapshot->StackTop)) : env::GetStackTop();
    tracer.Initialize(traceParanoid, suppressRecursion, const_cast<void*>(stackPtr), top);
    TExcCallStackItem item{};
    while (Count() < maxSize && tracer.Next(item)) AddAddress(item.ReturnAddress, last);
}

void TExcCallStack::Generate(int32_t maxSize, bool suppressRecursion) {
    volatile int marker = 0;
    GenerateFromAddr(__builtin_return_address(0), const_cast<int*>(&marker), maxSize, suppressRecursion);
}

void TExcCallStack::Dump(rtl::TStringList& dest) const {
    dest.Clear();
    dest.Add(L"Call stack:");
    TZudAvizi* m = ZudAvizi();
    for (const TCallStackItem& item : FItems) {
        if (item.NestingLevel > 1) dest.Add(rtl::Format(L"Recursive call (%d times):", item.NestingLevel));
        std::wstring line =
            rtl::Format(L":%.8X [%ls]", item.CallAddress, rtl::ExtractFileName(item.DebugModule->ModuleName()).c_str());
        if (item.ProcNameIndex != -1) {
            std::wstring name = item.DebugModule->GetName(item.ProcNameIndex);
            if (m) name = m->UnMangle(name, item.DebugModule->IsDelphiModule());
            line += L" " + name;
        }
        if (item.FileLineNumber != -1)
            line += rtl::Format(L" (%ls, line %d)",
                                rtl::ExtractFileName(item.DebugModule->GetName(item.FileNameIndex)).c_str(),
                                item.FileLineNumber);
        dest.Add(line);
    }
    dest.Add(L"\r\nModules:");
    if (!m) return;
    m->ForEachModule([&](TModuleDebugInfo& module) {
        uint32_t imageBase = 0, baseOfCode = 0, sizeOfCode = 0;
        auto base = reinterpret_cast<const uint8_t*>(module.Instance());
        IMAGE_DOS_HEADER dos{};
        IMAGE_NT_HEADERS32 nt{};
        if (env::ReadOwnMemory(base, &dos, sizeof(dos)) && env::ReadOwnMemory(base + dos.e_lfanew, &nt, sizeof(nt))) {
            imageBase = nt.OptionalHeader.ImageBase;
            baseOfCode = nt.OptionalHeader.BaseOfCode;
            sizeOfCode = nt.OptionalHeader.SizeOfCode;
        }
        dest.Add(rtl::Format(L"$%.08X (%.08X,%.08X,%.08X) %ls",
                             static_cast<unsigned>(reinterpret_cast<uintptr_t>(module.Instance())), imageBase,
                             baseOfCode, sizeOfCode, module.ModuleName().c_str()));
    });
}

}  // namespace crash
