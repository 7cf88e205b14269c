#include "rtl/Exception.h"

namespace rtl {

const TClassRef Exception::ClassRef{L"Exception", nullptr};
RTL_DEFINE_EXCEPTION_CLASS(EAbort, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EOutOfMemory, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EInOutError, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EOSError, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EConvertError, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EListError, Exception)
RTL_DEFINE_EXCEPTION_CLASS(ERegistryException, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EAbstractError, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EExternal, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EAccessViolation, EExternal)
RTL_DEFINE_EXCEPTION_CLASS(EIntError, EExternal)
RTL_DEFINE_EXCEPTION_CLASS(EDivByZero, EIntError)
RTL_DEFINE_EXCEPTION_CLASS(EIntOverflow, EIntError)
RTL_DEFINE_EXCEPTION_CLASS(EStackOverflow, EExternal)
RTL_DEFINE_EXCEPTION_CLASS(ERangeError, EIntError)
RTL_DEFINE_EXCEPTION_CLASS(EMathError, EExternal)
RTL_DEFINE_EXCEPTION_CLASS(EInvalidOp, EMathError)
RTL_DEFINE_EXCEPTION_CLASS(EZeroDivide, EMathError)
RTL_DEFINE_EXCEPTION_CLASS(EOverflow, EMathError)
RTL_DEFINE_EXCEPTION_CLASS(EUnderflow, EMathError)
RTL_DEFINE_EXCEPTION_CLASS(EPrivilege, EExternal)
RTL_DEFINE_EXCEPTION_CLASS(EExternalException, EExternal)

}  // namespace rtl
