/* The C interface between the host and a plug-in module.
 *
 * The host fills one HostLink and hands its address to the module through
 * HostPlugIn_Link_2; the module reaches the host only through the function
 * table in it. Only C types cross this line, so a module and a host built
 * apart (or with another compiler) still agree.
 *
 * Ownership: LinkImage, LinkString and LinkFunction are reference counted by the
 * host. A function that "gives" an object hands the caller one reference,
 * which the caller releases; "borrowed" objects are not released.
 *
 * Failure: a host function that can fail takes a LinkError * as its last
 * argument. On failure it sets code to non-zero and text to a message and
 * returns 0 / a null pointer; on success it leaves *error unchanged. No host
 * function throws or longjmps. */
#ifndef HOST_LINK_HOST_LINK_H
#define HOST_LINK_HOST_LINK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LinkImage LinkImage;       /* host image */
typedef struct LinkString LinkString;     /* host string */
typedef struct LinkFunction LinkFunction; /* registered script function */

/* The link protocol this interface is; HostPlugIn_GetVersion answers it. */
#define HOST_LINK_PROTOCOL 2

/* The first host version word modules of this kind accept (3.10.0). */
#define HOST_MIN_VERSION 0x030A0000u

/* Host error codes. */
#define HOST_ERROR_STD_EXCEPTION 28800     /* a standard exception; text = what() */
#define HOST_ERROR_HOST_FUNCTION 28801     /* a host function failed */
#define HOST_ERROR_PLUGIN_VERSION 28802    /* host too old for the module */
#define HOST_ERROR_UNKNOWN_EXCEPTION 28803 /* anything else thrown; no text */
#define HOST_ERROR_BAD_SIGNATURE 28804     /* a registration the host cannot parse */

/* Image data type codes. */
#define HOST_TYPE_INT16 1
#define HOST_TYPE_REAL4 2
#define HOST_TYPE_COMPLEX8 3
#define HOST_TYPE_UINT8 6
#define HOST_TYPE_INT32 7
#define HOST_TYPE_INT8 9
#define HOST_TYPE_UINT16 10
#define HOST_TYPE_UINT32 11
#define HOST_TYPE_REAL8 12
#define HOST_TYPE_COMPLEX16 13

#define HOST_ERROR_TEXT_SIZE 512
typedef struct LinkError {
    int32_t code;                    /* 0: no error */
    char text[HOST_ERROR_TEXT_SIZE]; /* zero-terminated message */
} LinkError;

/* A registered handler: called by the host with the parameters its
 * signature string names (see the host's function library). */
typedef void (*LinkHandler)(void);

typedef struct HostLink {
    uint32_t version; /* host version word, e.g. 0x030A0000 for 3.10.0 */
    void* host;       /* first argument of every function below */

    /* Images. The constructors give a new image (one reference); dims holds
   * ndims (1..3) sizes. "RealImage": 4-byte reals; "IntegerImage": 1, 2 or
   * 4 bytes, signed or not; "ComplexImage": 8 or 16 bytes. */
    LinkImage* (*real_image)(void* host, LinkString* title, uint32_t bytes, uint32_t ndims, const uint32_t* dims,
                             LinkError* error);
    LinkImage* (*integer_image)(void* host, LinkString* title, uint32_t bytes, int32_t is_signed, uint32_t ndims,
                                const uint32_t* dims, LinkError* error);
    LinkImage* (*complex_image)(void* host, LinkString* title, uint32_t bytes, uint32_t ndims, const uint32_t* dims,
                                LinkError* error);
    /* 1 when image is a valid image, 0 otherwise (also for a null image). */
    int32_t (*image_is_valid)(void* host, LinkImage* image, LinkError* error);
    uint32_t (*image_num_dimensions)(void* host, LinkImage* image, LinkError* error);
    /* A dimension the image does not have answers 1. */
    uint32_t (*image_dimension_size)(void* host, LinkImage* image, uint32_t dim, LinkError* error);
    uint32_t (*image_data_type)(void* host, LinkImage* image, LinkError* error);
    /* Converts the pixels to another data type; refused while locked. */
    int32_t (*image_change_data_type)(void* host, LinkImage* image, uint32_t data_type, LinkError* error);
    /* Locks the pixels: one contiguous block of *bytes bytes, pixel
   * x + y*W + z*W*H. Valid until the matching image_unlock. */
    void* (*image_lock)(void* host, LinkImage* image, uint32_t flags, size_t* bytes, LinkError* error);
    void (*image_unlock)(void* host, LinkImage* image);
    int32_t (*image_data_changed)(void* host, LinkImage* image, LinkError* error);
    void (*image_add_ref)(void* host, LinkImage* image);
    void (*image_release)(void* host, LinkImage* image);

    /* Strings: a new string holds a copy of length bytes (encoding 0: bytes
   * as they are). string_text gives the bytes, valid while the string
   * lives, and their count in *length; a null string gives "". */
    LinkString* (*string_create)(void* host, const char* bytes, size_t length, uint32_t encoding, LinkError* error);
    const char* (*string_text)(void* host, LinkString* string, size_t* length, LinkError* error);
    void (*string_add_ref)(void* host, LinkString* string);
    void (*string_release)(void* host, LinkString* string);

    /* Script functions. function_add parses the signature (length bytes,
   * no terminating zero needed) and gives a counted reference to the new
   * function; it stays registered until function_remove. */
    LinkFunction* (*function_add)(void* host, const char* signature, size_t length, LinkHandler handler,
                                  LinkError* error);
    void (*function_remove)(void* host, LinkFunction* function);
    void (*function_add_ref)(void* host, LinkFunction* function);
    void (*function_release)(void* host, LinkFunction* function);

    /* Errors: reports a host error for the script now running; a null text
   * means none. */
    void (*report_error)(void* host, int32_t code, const char* text);

    /* "void Result( host_string )": appends the text to the Results window. */
    int32_t (*result)(void* host, LinkString* text, LinkError* error);

    /* Desktop input, with the meaning of the Windows functions of the same
   * purpose: the key-state word has 0x8000 set while the key is down and 1
   * when it was pressed since the previous query (cleared by the query). */
    int16_t (*async_key_state)(void* host, int32_t virtual_key);
    void (*key_event)(void* host, uint8_t virtual_key, uint8_t scan_code, uint32_t flags, uintptr_t extra_info);
} HostLink;

/* Module entry points, exported by name with C linkage.
 * PlugInStartup/Run/Cleanup/Shutdown return 0, or the code of the host
 * error they reported (also when there was no host to report it to). */
typedef uint32_t (*HostPlugIn_GetVersion_Fn)(void);
typedef void (*HostPlugIn_Link_2_Fn)(const HostLink* link, uint32_t unused);
typedef int32_t (*HostPlugIn_Step_Fn)(void);

#ifdef __cplusplus
}
#endif

#endif
