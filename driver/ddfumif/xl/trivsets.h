/* TRIVSETS: asks the printer driver to export, import or reset the printer's
 * settings, and serves the message texts of the results.
 *
 * Each transfer operation takes the printer's name as the spooler knows it
 * and one string that is passed to the driver unchanged, and returns the
 * driver's result, or 99 when the request did not reach the driver.
 *
 * The header compiles as C and as C++. */
#ifndef TRIVSETS_H
#define TRIVSETS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The exports use the convention in which the caller removes the arguments. */
#if defined(_MSC_VER)
#define TRIVSETS_CALL __cdecl
#elif defined(__GNUC__) && defined(__i386__)
#define TRIVSETS_CALL __attribute__((__cdecl__))
#else
#define TRIVSETS_CALL
#endif

#if defined(_WIN32)
#define TRIVSETS_API /* exported through TRIVSETS.def */
#elif defined(__GNUC__)
#define TRIVSETS_API __attribute__((__visibility__("default")))
#else
#define TRIVSETS_API
#endif

/* The result of an operation that did not reach the driver. */
#define TRIVSETS_NOT_REACHED 99

TRIVSETS_API int32_t TRIVSETS_CALL SPRINST_SettingExport(const char *printerName,
                                                         const char *argument);
TRIVSETS_API int32_t TRIVSETS_CALL SPRINST_SettingImport(const char *printerName,
                                                         const char *argument);
TRIVSETS_API int32_t TRIVSETS_CALL SPRINST_PersonalInfoImport(const char *printerName,
                                                              const char *argument);
TRIVSETS_API int32_t TRIVSETS_CALL SPRINST_DefaultSetting(const char *printerName,
                                                          const char *argument);

/* The text for a result: 0 to 14 have their own texts, every other value
 * (99 included) the general one. Never null; owned by the library and valid
 * while it is loaded. An empty string when the driver data file has none. */
TRIVSETS_API const char *TRIVSETS_CALL SPRINST_GetErrorMsg(int32_t result);

#ifdef __cplusplus
}
#endif

#endif /* TRIVSETS_H */
