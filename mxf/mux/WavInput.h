/* The WAV input: a reading bufstream over a .wav file that delivers an
 * 8-byte stream header and then one packed unit of audio per video frame. */
#ifndef MXF_MUX_WAVINPUT_H
#define MXF_MUX_WAVINPUT_H

#include "codec/common/bufstream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Output forms (options[0]). */
enum {
    WAV_FORM_LPCM = 0,  /* 16-bit PCM, bytes of every sample exchanged */
    WAV_FORM_HDMV = 1,  /* 4-byte unit header and PCM */
    WAV_FORM_302M = 2,  /* not offered: no producer asks for it */
    WAV_FORM_331M = 3,  /* 4-byte element header, eight 4-byte channel words per sample */
    WAV_FORM_PLANAR = 4 /* each channel's samples in one block */
};

/* options[0] = output form, options[1] = MPEG frame-rate code 1-8. Null when
 * the file is not 48 kHz PCM (plain or WAVE_FORMAT_EXTENSIBLE) that the form
 * can carry. */
bufstream* bs_wav_open(const char* name, uint32_t buffer_size, const uint8_t* options);
/* Output bytes of the unit produced next (0 when none). */
uint32_t bs_wav_next_unit_size(bufstream* bs);

#ifdef __cplusplus
}
#endif

#endif /* MXF_MUX_WAVINPUT_H */
