/* Localisation catalogs of the host and its plug-ins.
 *
 * A catalog is a UTF-8 text file <dir>Locale/<language>/<catalogName> that maps
 * integer ids to texts:
 *
 *     # comment
 *     12<TAB>Text with \n line feed, \t tab and \\ backslash
 *
 * Every function is safe to call from any thread; an open catalog is read-only
 * and may be shared. Errors are kept per thread: LocOpenCat sets the code that
 * LocGetErr and LocGetErrStr report (0 after a successful open). */
#ifndef TW_LOCALE_H
#define TW_LOCALE_H

#if defined(TW_LOCALE_BUILD)
#define TW_LOCALE_API __attribute__((visibility("default")))
#else
#define TW_LOCALE_API
#endif

/* Bit of the flags of LocOpenCat: when the language has no catalog, open the
 * fallback language's catalog instead. */
#define LOC_FLAG_FALLBACK 1

/* Codes of LocGetErr. LOC_ERR_NO_CATALOG and LOC_ERR_NO_FALLBACK are the
 * ordinary cases of a language nobody translated; the others are faults. */
#define LOC_ERR_NONE 0
#define LOC_ERR_INTERNAL 1    /* unexpected failure inside the library */
#define LOC_ERR_READ 2        /* the file exists but cannot be read */
#define LOC_ERR_PARSE 3       /* the file is not a valid catalog */
#define LOC_ERR_ARGUMENT 4    /* a null or malformed name */
#define LOC_ERR_MEMORY 5      /* out of memory */
#define LOC_ERR_NO_CATALOG 8  /* no catalog for the language, no fallback asked */
#define LOC_ERR_NO_FALLBACK 9 /* no catalog for the language nor for the fallback */

/* Longest catalog file accepted, in bytes. */
#define LOC_MAX_FILE_SIZE (4 * 1024 * 1024)

#ifdef __cplusplus
extern "C" {
#endif

/* Opens <dir>Locale/<language>/<catalogName> (a separator is added after dir
 * when it lacks one; language is compared in lower case). With flags bit 0 set
 * and a non-empty fallback, a missing catalog is replaced by the fallback
 * language's one. Returns the catalog, or null with the error set. */
TW_LOCALE_API void* LocOpenCat(const char* catalogName, const char* dir, const char* language,
                               int flags, const char* fallback);

/* Releases a catalog; null is ignored. Texts returned for it become invalid. */
TW_LOCALE_API void LocCloseCat(void* catalog);

/* The catalog's text for id, else defaultText (also for a null catalog). The
 * pointer stays valid until LocCloseCat. */
TW_LOCALE_API const char* LocGetCatStr(void* catalog, int id, const char* defaultText);

/* Code of the last LocOpenCat failure of the calling thread, 0 after a success. */
TW_LOCALE_API int LocGetErr(void);

/* Writes the text of the last failure (empty when none) into buffer,
 * truncated at a character boundary and always NUL-terminated; nothing is
 * written when buffer is null or bufferSize <= 0. */
TW_LOCALE_API void LocGetErrStr(char* buffer, int bufferSize);

/* Pointer types for binding the library at run time. */
typedef void* (*LocOpenCat_t)(const char*, const char*, const char*, int, const char*);
typedef void (*LocCloseCat_t)(void*);
typedef const char* (*LocGetCatStr_t)(void*, int, const char*);
typedef int (*LocGetErr_t)(void);
typedef void (*LocGetErrStr_t)(char*, int);

#ifdef __cplusplus
}
#endif

#endif
