// Runtime exception objects: a heap-allocated Exception with a message and a
// class reference (name + parent) so that handlers and filters can match
// "this class or a descendant" and report ClassName without RTTI.
#pragma once
#include <cstdint>
#include <string>

namespace rtl {

struct TClassRef {
    const wchar_t* Name;
    const TClassRef* Parent;  // null for the root class

    bool InheritsFrom(const TClassRef& other) const {
        for (const TClassRef* c = this; c; c = c->Parent)
            if (c == &other) return true;
        return false;
    }
};

// Declares the class reference of an exception class inside its body.
#define RTL_EXCEPTION_CLASS(Name)           \
public:                                     \
    static const ::rtl::TClassRef ClassRef; \
    const ::rtl::TClassRef& ClassType() const override { return ClassRef; }

// Defines it in one .cpp file: RTL_DEFINE_EXCEPTION_CLASS(EFoo, Exception)
#define RTL_DEFINE_EXCEPTION_CLASS(Name, Parent) const ::rtl::TClassRef Name::ClassRef{L## #Name, &Parent::ClassRef};

class Exception {
public:
    static const TClassRef ClassRef;

    explicit Exception(std::wstring message) : Message(std::move(message)) {}
    virtual ~Exception() = default;
    Exception(const Exception&) = delete;
    Exception& operator=(const Exception&) = delete;

    virtual const TClassRef& ClassType() const { return ClassRef; }
    std::wstring ClassName() const { return ClassType().Name; }
    bool InheritsFrom(const TClassRef& cls) const { return ClassType().InheritsFrom(cls); }
    template <class E>
    bool Is() const {
        return InheritsFrom(E::ClassRef);
    }

    std::wstring Message;
};

// Raised by EAbort-style silent cancellation; never shown to the user.
class EAbort : public Exception {
    RTL_EXCEPTION_CLASS(EAbort)
    using Exception::Exception;
};

class EOutOfMemory : public Exception {
    RTL_EXCEPTION_CLASS(EOutOfMemory)
    using Exception::Exception;
};

class EInOutError : public Exception {
    RTL_EXCEPTION_CLASS(EInOutError)
public:
    EInOutError(std::wstring message, int errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

class EOSError : public Exception {
    RTL_EXCEPTION_CLASS(EOSError)
public:
    EOSError(std::wstring message, uint32_t errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    uint32_t ErrorCode;
};

class EConvertError : public Exception {
    RTL_EXCEPTION_CLASS(EConvertError)
    using Exception::Exception;
};

class EListError : public Exception {
    RTL_EXCEPTION_CLASS(EListError)
    using Exception::Exception;
};

class ERegistryException : public Exception {
    RTL_EXCEPTION_CLASS(ERegistryException)
    using Exception::Exception;
};

class EAbstractError : public Exception {
    RTL_EXCEPTION_CLASS(EAbstractError)
    using Exception::Exception;
};

// Operating-system exceptions turned into objects; ExceptionCode is the
// code of the EXCEPTION_RECORD they came from.
class EExternal : public Exception {
    RTL_EXCEPTION_CLASS(EExternal)
public:
    EExternal(std::wstring message, uint32_t code) : Exception(std::move(message)), ExceptionCode(code) {}
    uint32_t ExceptionCode;
};

class EAccessViolation : public EExternal {
    RTL_EXCEPTION_CLASS(EAccessViolation)
    using EExternal::EExternal;
};

class EIntError : public EExternal {
    RTL_EXCEPTION_CLASS(EIntError)
    using EExternal::EExternal;
};

class EDivByZero : public EIntError {
    RTL_EXCEPTION_CLASS(EDivByZero)
    using EIntError::EIntError;
};

class EIntOverflow : public EIntError {
    RTL_EXCEPTION_CLASS(EIntOverflow)
    using EIntError::EIntError;
};

class EStackOverflow : public EExternal {
    RTL_EXCEPTION_CLASS(EStackOverflow)
    using EExternal::EExternal;
};

class ERangeError : public EIntError {
    RTL_EXCEPTION_CLASS(ERangeError)
    using EIntError::EIntError;
};

// Floating-point faults.
class EMathError : public EExternal {
    RTL_EXCEPTION_CLASS(EMathError)
    using EExternal::EExternal;
};

class EInvalidOp : public EMathError {
    RTL_EXCEPTION_CLASS(EInvalidOp)
    using EMathError::EMathError;
};

class EZeroDivide : public EMathError {
    RTL_EXCEPTION_CLASS(EZeroDivide)
    using EMathError::EMathError;
};

class EOverflow : public EMathError {
    RTL_EXCEPTION_CLASS(EOverflow)
    using EMathError::EMathError;
};

class EUnderflow : public EMathError {
    RTL_EXCEPTION_CLASS(EUnderflow)
    using EMathError::EMathError;
};

class EPrivilege : public EExternal {
    RTL_EXCEPTION_CLASS(EPrivilege)
    using EExternal::EExternal;
};

// Any other operating-system exception.
class EExternalException : public EExternal {
    RTL_EXCEPTION_CLASS(EExternalException)
    using EExternal::EExternal;
};

}  // namespace rtl
