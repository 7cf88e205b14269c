#include "rtl/SystemAddresses.h"

#include <cstring>

#include "rtl/Application.h"
#include "rtl/ErrorMessage.h"
#include "rtl/Seh.h"

namespace rtl {

namespace {

struct ChainRecord {
    ChainRecord* Next;
    void* Handler;
};

void* AllocationBase(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(address, &info, sizeof(info))) return nullptr;
    return info.AllocationBase;
}

template <class F>
uint32_t Addr(F* fn) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(fn));
}

}  // namespace

uint32_t FindModuleExceptionHandler() {
    auto* end = reinterpret_cast<ChainRecord*>(~uintptr_t(0));
    auto* rec = static_cast<ChainRecord*>(rtl_GetChainHead());
    if (!rec || rec == end) return 0;
    void* base = AllocationBase(rec->Handler);
    uint32_t last = 0;
    while (rec && rec != end && AllocationBase(rec->Handler) == base) {
        last = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(rec->Handler));
        rec = rec->Next;
    }
    return last;
}

void FillSystemAddresses(TZudAviziSystemAddresses& table) {
    std::memset(&table, 0, sizeof(table));
    table.ErrorMessageAddr = Addr(&rtl_ErrorMessage);
    table.ShowErrorAddr = Addr(&rtl_ShowError);
    table.RaiseExceptAddr = Addr(&rtl_RaiseExcept);
    table.DoneExceptAddr = Addr(&rtl_DoneExcept);
    table.ExceptionHandlerAddr = FindModuleExceptionHandler();
    table.HandleAnyExceptAddr = Addr(&rtl_HandleAnyExcept);
    table.HandleAutoExceptAddr = Addr(&rtl_HandleAutoExcept);
    table.HandleOnExceptAddr = Addr(&rtl_HandleOnExcept);
    table.AppShowExceptionAddr = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(AppShowExceptionAddress()));
    if (Application) table.MainWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Application->Handle()));
}

}  // namespace rtl
