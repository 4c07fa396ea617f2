#include "host/app/link_table.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "host/app/host.h"

namespace orvanhost {

namespace {

HostProgram& H(void* host) { return *static_cast<HostProgram*>(host); }

void SetError(LinkError* error, int32_t code, const std::string& text) {
    if (!error) return;
    error->code = code;
    std::snprintf(error->text, sizeof error->text, "%s", text.c_str());
}

// Runs body for the named host function: an injected failure, a null image
// where one is needed, or an exception of the host's own become *error.
template <typename T, typename Body>
T Guard(void* host, const char* name, LinkError* error, T failed, Body body) {
    try {
        if (H(host).ShouldFail(name, error)) return failed;
        return body();
    } catch (const std::bad_alloc&) {
        SetError(error, HOST_ERROR_HOST_FUNCTION, std::string(name) + ": out of memory");
    } catch (const std::exception& e) {
        SetError(error, HOST_ERROR_HOST_FUNCTION, std::string(name) + ": " + e.what());
    }
    return failed;
}

Image& Need(LinkImage* image) {
    if (!image) throw std::invalid_argument("not a valid image");
    return *FromLink(image);
}

std::string Title(LinkString* title) { return title ? FromLink(title)->Text() : std::string(); }

std::vector<uint32_t> Dims(uint32_t ndims, const uint32_t* dims) {
    if (ndims < 1 || ndims > 3 || !dims) throw std::invalid_argument("1 to 3 dimensions expected");
    return std::vector<uint32_t>(dims, dims + ndims);
}

LinkImage* RealImage(void* host, LinkString* title, uint32_t bytes, uint32_t ndims, const uint32_t* dims,
                     LinkError* error) {
    return Guard<LinkImage*>(host, "RealImage", error, nullptr, [&] {
        if (bytes != 4 && bytes != 8) throw std::invalid_argument("a real image has 4 or 8 bytes per pixel");
        return ToLink(NewImageObject(Title(title), bytes == 4 ? DataType::Real4 : DataType::Real8, Dims(ndims, dims)));
    });
}

LinkImage* IntegerImage(void* host, LinkString* title, uint32_t bytes, int32_t is_signed, uint32_t ndims,
                        const uint32_t* dims, LinkError* error) {
    return Guard<LinkImage*>(host, "IntegerImage", error, nullptr, [&] {
        DataType t;
        switch (bytes) {
            case 1: t = is_signed ? DataType::Int8 : DataType::UInt8; break;
            case 2: t = is_signed ? DataType::Int16 : DataType::UInt16; break;
            case 4: t = is_signed ? DataType::Int32 : DataType::UInt32; break;
            default: throw std::invalid_argument("an integer image has 1, 2 or 4 bytes per pixel");
        }
        return ToLink(NewImageObject(Title(title), t, Dims(ndims, dims)));
    });
}

LinkImage* ComplexImage(void* host, LinkString* title, uint32_t bytes, uint32_t ndims, const uint32_t* dims,
                        LinkError* error) {
    return Guard<LinkImage*>(host, "ComplexImage", error, nullptr, [&] {
        if (bytes != 8 && bytes != 16) throw std::invalid_argument("a complex image has 8 or 16 bytes per pixel");
        return ToLink(
            NewImageObject(Title(title), bytes == 8 ? DataType::Complex8 : DataType::Complex16, Dims(ndims, dims)));
    });
}

int32_t ImageIsValid(void* host, LinkImage* image, LinkError* error) {
    return Guard<int32_t>(host, "ImageIsValid", error, 0, [&] { return image ? 1 : 0; });
}

uint32_t ImageNumDimensions(void* host, LinkImage* image, LinkError* error) {
    return Guard<uint32_t>(host, "ImageGetNumDimensions", error, 0, [&] { return Need(image).NumDimensions(); });
}

uint32_t ImageDimensionSize(void* host, LinkImage* image, uint32_t dim, LinkError* error) {
    return Guard<uint32_t>(host, "ImageGetDimensionSize", error, 0, [&] { return Need(image).DimensionSize(dim); });
}

uint32_t ImageDataType(void* host, LinkImage* image, LinkError* error) {
    return Guard<uint32_t>(host, "ImageGetDataType", error, 0,
                           [&] { return static_cast<uint32_t>(Need(image).Type()); });
}

int32_t ImageChangeDataType(void* host, LinkImage* image, uint32_t type, LinkError* error) {
    return Guard<int32_t>(host, "ImageChangeDataType", error, 0, [&] {
        if (!IsKnownDataType(type)) throw std::invalid_argument("unknown data type " + std::to_string(type));
        Need(image).ChangeDataType(static_cast<DataType>(type));
        return 1;
    });
}

void* ImageLock(void* host, LinkImage* image, uint32_t, size_t* bytes, LinkError* error) {
    return Guard<void*>(host, "ImageGetLockedData", error, nullptr, [&] {
        Image& i = Need(image);
        i.Lock();
        if (bytes) *bytes = i.ByteCount();
        return i.Data();
    });
}

void ImageUnlock(void*, LinkImage* image) {
    if (image && FromLink(image)->LockCount() > 0) FromLink(image)->Unlock();
}

int32_t ImageDataChanged(void* host, LinkImage* image, LinkError* error) {
    return Guard<int32_t>(host, "ImageDataChanged", error, 0, [&] {
        Need(image).DataChanged();
        return 1;
    });
}

void ImageAddRef(void*, LinkImage* image) {
    if (image) FromLink(image)->AddRef();
}

void ImageRelease(void*, LinkImage* image) {
    if (image) FromLink(image)->Release();
}

LinkString* StringCreate(void* host, const char* bytes, size_t length, uint32_t encoding, LinkError* error) {
    return Guard<LinkString*>(host, "NewString", error, nullptr, [&] {
        if (!bytes && length) throw std::invalid_argument("no text");
        return ToLink(HostString::Create(bytes ? std::string(bytes, length) : std::string(), encoding));
    });
}

const char* StringText(void* host, LinkString* string, size_t* length, LinkError* error) {
    return Guard<const char*>(host, "GetString", error, nullptr, [&] {
        static const char empty[] = "";
        if (!string) {
            if (length) *length = 0;
            return empty;
        }
        const std::string& t = FromLink(string)->Text();
        if (length) *length = t.size();
        return t.c_str();
    });
}

void StringAddRef(void*, LinkString* string) {
    if (string) FromLink(string)->AddRef();
}

void StringRelease(void*, LinkString* string) {
    if (string) FromLink(string)->Release();
}

LinkFunction* FunctionAdd(void* host, const char* signature, size_t length, LinkHandler handler, LinkError* error) {
    try {
        if (H(host).ShouldFail("AddFunction", error)) return nullptr;
        if (!signature) throw std::invalid_argument("no signature");
        FunctionEntry* e = H(host).Library().Add(std::string_view(signature, length), handler);
        return reinterpret_cast<LinkFunction*>(e);
    } catch (const std::bad_alloc&) {
        SetError(error, HOST_ERROR_HOST_FUNCTION, "AddFunction: out of memory");
    } catch (const std::exception& e) {
        SetError(error, HOST_ERROR_BAD_SIGNATURE, e.what());
    }
    return nullptr;
}

FunctionEntry* Entry(LinkFunction* f) { return reinterpret_cast<FunctionEntry*>(f); }

void FunctionRemove(void* host, LinkFunction* function) {
    if (function) H(host).Library().Remove(Entry(function));
}

void FunctionAddRef(void*, LinkFunction* function) {
    if (function) FunctionLibrary::AddRef(Entry(function));
}

void FunctionRelease(void* host, LinkFunction* function) {
    if (function) H(host).Library().Release(Entry(function));
}

void ReportError(void* host, int32_t code, const char* text) {
    try {
        H(host).ReportError(code, text ? text : "");
    } catch (...) {
        // Out of memory while recording: the error is lost, the host goes on.
    }
}

int32_t Result(void* host, LinkString* text, LinkError* error) {
    return Guard<int32_t>(host, "Result", error, 0, [&] {
        H(host).ShowResult(text ? std::string_view(FromLink(text)->Text()) : std::string_view());
        return 1;
    });
}

int16_t AsyncKeyState(void* host, int32_t virtual_key) {
    try {
        return H(host).AsyncKeyState(virtual_key);
    } catch (...) {
        return 0;
    }
}

void KeyEventCall(void* host, uint8_t vk, uint8_t scan, uint32_t flags, uintptr_t extra) {
    try {
        H(host).KeyEventCall(KeyEvent{vk, scan, flags, extra});
    } catch (...) {
    }
}

}  // namespace

void FillLinkTable(HostLink* link, HostProgram* host) {
    link->host = host;
    link->real_image = RealImage;
    link->integer_image = IntegerImage;
    link->complex_image = ComplexImage;
    link->image_is_valid = ImageIsValid;
    link->image_num_dimensions = ImageNumDimensions;
    link->image_dimension_size = ImageDimensionSize;
    link->image_data_type = ImageDataType;
    link->image_change_data_type = ImageChangeDataType;
    link->image_lock = ImageLock;
    link->image_unlock = ImageUnlock;
    link->image_data_changed = ImageDataChanged;
    link->image_add_ref = ImageAddRef;
    link->image_release = ImageRelease;
    link->string_create = StringCreate;
    link->string_text = StringText;
    link->string_add_ref = StringAddRef;
    link->string_release = StringRelease;
    link->function_add = FunctionAdd;
    link->function_remove = FunctionRemove;
    link->function_add_ref = FunctionAddRef;
    link->function_release = FunctionRelease;
    link->report_error = ReportError;
    link->result = Result;
    link->async_key_state = AsyncKeyState;
    link->key_event = KeyEventCall;
}

}  // namespace orvanhost
