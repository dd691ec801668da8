// requests.cpp: a request's arguments taken from the request function's argument list and handed to its handler.
#include "requests.h"

namespace moravel {

namespace detail {

namespace {

template <class U>
short answer(Impl& h, int code, va_list ap) {
  using namespace request;
  switch (code) {
    case kGetFldRef:
      return onGetFldRef<U>(h, va_arg(ap, const Str255<U>*));
    case kGetFldInt: {
      int ref = va_arg(ap, int);
      return onGetFldInt(h, ref, va_arg(ap, double*));
    }
    case kSetFldVal: {
      int ref = va_arg(ap, int);
      int fmt = va_arg(ap, int);
      return onSetFldVal<U>(h, ref, fmt, va_arg(ap, const void*));
    }
    case kSetFldInt: {
      int ref = va_arg(ap, int);
      return onSetFldInt(h, ref, va_arg(ap, const double*));
    }
    case kShowMessage:
      for (int i = 0; i < 4; ++i) (void)va_arg(ap, int);  // type, high, large, bell
      return onShowMessage<U>(h, va_arg(ap, const Str255<U>*));
    case kGetFldVal: {
      int ref = va_arg(ap, int);
      int fmt = va_arg(ap, int);
      int maxlen = va_arg(ap, int);
      return onGetFldVal<U>(h, ref, fmt, maxlen, va_arg(ap, void*));
    }
    case kGetLstVal: {
      int listno = va_arg(ap, int);
      int fldref = va_arg(ap, int);
      int fmt = va_arg(ap, int);
      void* val = va_arg(ap, void*);
      return onGetLstVal<U>(h, listno, fldref, fmt, val, va_arg(ap, const LineAndMax*));
    }
    case kGetLstInt: {
      int listno = va_arg(ap, int);
      int lineno = va_arg(ap, int);
      int fldref = va_arg(ap, int);
      return onGetLstInt(h, listno, lineno, fldref, va_arg(ap, double*));
    }
    case kSetLstVal: {
      int listno = va_arg(ap, int);
      int lineno = va_arg(ap, int);
      int fldref = va_arg(ap, int);
      int fmt = va_arg(ap, int);
      return onSetLstVal<U>(h, listno, lineno, fldref, fmt, va_arg(ap, const void*));
    }
    case kDoListOp: {
      int lop = va_arg(ap, int);
      int listno = va_arg(ap, int);
      return onDoListOp(h, lop, listno, va_arg(ap, int));
    }
    case kEvalCalcString: {
      auto* text = va_arg(ap, const Str255<U>*);
      return onEvalCalcString<U>(h, text, va_arg(ap, int));
    }
    case kGetFldInfo:
      return onGetFldInfo<U>(h, va_arg(ap, ExtInfoRec<U>*));
    case kExtensionInfo:
      return onExtensionInfo<U>(h, va_arg(ap, ExtInfoRec<U>*));
    case kGetPackageId:
      return onGetPackageId(h, va_arg(ap, std::int32_t*));
    case kGetDesignPtr:
      return onGetDesignPtr(h, va_arg(ap, void**));
    case kGetListDef: {
      int ref = va_arg(ap, int);
      int len = va_arg(ap, int);
      return onGetListDef<U>(h, ref, len, va_arg(ap, U*));
    }
    case kCallProcedure: {
      auto* name = va_arg(ap, const Str255<U>*);
      return onCallProcedure<U>(h, name, va_arg(ap, int));
    }
    case kPurgeFldRef:
      return onPurgeFldRef(h, va_arg(ap, int));
    case kGetNamedVal: {
      (void)va_arg(ap, int);  // fldref, unused
      int fmt = va_arg(ap, int);
      int maxlen = va_arg(ap, int);
      return onGetNamedVal<U>(h, fmt, maxlen, va_arg(ap, XFldValue<U>*));
    }
    case kGetFldInfo2:
      return onGetFldInfo2<U>(h, va_arg(ap, FldInfoRec<U>*));
    default:
      h.problem("unknown request " + std::to_string(code));
      return 0;
  }
}

}  // namespace

}  // namespace detail

short detail::HostImpl::dispatch(int handle, int code, va_list ap) {
  log.requests.note(code);
  int innermost = static_cast<int>(frames.size()) - 1;
  if (frames.empty() || handle != innermost) {
    log.staleHandles++;
    problem("request " + std::to_string(code) + " through handle " + std::to_string(handle) +
            " while the innermost message is at depth " + std::to_string(innermost));
  }
  try {
    return width == Width::Byte ? detail::answer<std::uint8_t>(*this, code, ap)
                                : detail::answer<std::uint32_t>(*this, code, ap);
  } catch (const std::exception& e) {
    problem(std::string("request ") + std::to_string(code) + " failed: " + e.what());
  } catch (...) {
    problem("request " + std::to_string(code) + " failed");
  }
  return 0;
}

}  // namespace moravel
