#!/usr/bin/env bash
# Makes the reader corpus in the folder given as $1 (sox and ffmpeg needed; the Ogg and MP3 files
# only when oggenc and lame are installed): sound files written by other tools (sox,
# ffmpeg, oggenc, lame; Debian packages sox, ffmpeg, vorbis-tools, lame) and by hand, each with the
# reference decode ffmpeg gives ("<file>.ref": s16le, u8 for 8-bit WAVs of one or two channels,
# f32le for lossy codecs, at the file's own channel count). The corpus test runs it at test time.
# Some of its outputs are committed as seeds of the sound fuzz harnesses (tests/fuzz/corpus/sound*).
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"

ref() {  # ref <file> <sample format> [more ffmpeg options]
  local file=$1 fmt=$2
  shift 2
  ffmpeg -v error -y -i "$file" "$@" -f "$fmt" "$file.ref"
}

# A tone of two partials that differ per channel, so a swapped or folded channel shows.
tone() {  # tone <file> <rate> <channels> <seconds> [sox output options]
  local file=$1 rate=$2 channels=$3 seconds=$4
  shift 4
  local synth=()
  for ((c = 0; c < channels; ++c)); do synth+=(sine $((300 + 170 * c))); done
  sox -n -r "$rate" -c "$channels" "$@" "$file" synth "$seconds" "${synth[@]}" vol 0.8
}

# ---- WAV: every depth, channel counts, rates ----
tone w_u8_mono_11k.wav 11025 1 0.3 -b 8 -e unsigned-integer
ref w_u8_mono_11k.wav u8
tone w_u8_stereo_8k.wav 8000 2 0.3 -b 8 -e unsigned-integer
ref w_u8_stereo_8k.wav u8
tone w_s16_mono_22k.wav 22050 1 0.3 -b 16
ref w_s16_mono_22k.wav s16le
tone w_s16_stereo_96k.wav 96000 2 0.2 -b 16
ref w_s16_stereo_96k.wav s16le
tone w_s24_stereo_48k.wav 48000 2 0.3 -b 24
ref w_s24_stereo_48k.wav s16le
tone w_s32_mono_44k.wav 44100 1 0.3 -b 32
ref w_s32_mono_44k.wav s16le
tone w_f32_stereo_44k.wav 44100 2 0.3 -b 32 -e floating-point
ref w_f32_stereo_44k.wav s16le
tone w_f64_mono_16k.wav 16000 1 0.3 -b 64 -e floating-point
ref w_f64_mono_16k.wav s16le
tone w_s16_3ch_32k.wav 32000 3 0.3 -b 16
ref w_s16_3ch_32k.wav s16le
tone w_s16_4ch_22k.wav 22050 4 0.3 -b 16
ref w_s16_4ch_22k.wav s16le
tone w_s24_5ch_48k.wav 48000 5 0.2 -b 24
ref w_s24_5ch_48k.wav s16le
tone w_s16_6ch_44k.wav 44100 6 0.2 -b 16
ref w_s16_6ch_44k.wav s16le
tone w_u8_6ch_8k.wav 8000 6 0.3 -b 8 -e unsigned-integer
ref w_u8_6ch_8k.wav s16le
# ffmpeg's defaults: a LIST/INFO chunk before "data"; extensible headers for more than two channels.
ffmpeg -v error -y -i w_s16_stereo_96k.wav -ar 44100 -c:a pcm_s16le w_ffmpeg_default.wav
ref w_ffmpeg_default.wav s16le
ffmpeg -v error -y -i w_s16_6ch_44k.wav -c:a pcm_s24le w_ffmpeg_6ch_s24.wav
ref w_ffmpeg_6ch_s24.wav s16le
ffmpeg -v error -y -i w_s16_mono_22k.wav -c:a pcm_f32le w_ffmpeg_f32.wav
ref w_ffmpeg_f32.wav s16le
# Written to a pipe: the sizes cannot be filled in afterwards (0xFFFFFFFF); the data runs to the end.
ffmpeg -v error -i w_s16_mono_22k.wav -c:a pcm_s16le -f wav - | cat >w_ffmpeg_pipe.wav
ref w_ffmpeg_pipe.wav s16le
# WAVE_FORMAT_EXTENSIBLE for a plain 16-bit stereo file.
sox w_s16_stereo_96k.wav -t wavpcm -b 16 w_plain.wav rate 22050
ref w_plain.wav s16le

# Hand-made chunk layouts around the PCM of w_plain.wav (a plain 44-byte header).
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
pcm=$(mktemp)
tail -c +45 w_plain.wav >"$pcm"
fmt=$(mktemp)
head -c 36 w_plain.wav | tail -c 24 >"$fmt"  # "fmt " chunk: id, size 16, the 16 bytes
pcmbytes=$(stat -c %s "$pcm")
chunk() {  # chunk <id> <body file>: the chunk with its pad byte
  local n
  n=$(stat -c %s "$2")
  printf '%s' "$1"
  le32 "$n"
  cat "$2"
  if ((n % 2)); then printf '\0'; fi
}
riff() {  # riff <out> <chunk files...>
  local body
  body=$(mktemp)
  printf WAVE >"$body"
  shift_out=$1
  shift
  cat "$@" >>"$body"
  { printf RIFF; le32 "$(stat -c %s "$body")"; cat "$body"; } >"$shift_out"
  rm -f "$body"
}
tmp=$(mktemp -d)
printf 'INFOICMT\x13\x00\x00\x00data: comment text\x00\x00' >"$tmp/list"
chunk LIST "$tmp/list" >"$tmp/c_list"
printf 'odd' >"$tmp/odd3"
chunk junk "$tmp/odd3" >"$tmp/c_odd"
printf '\x10\x27\x00\x00' >"$tmp/fact"
chunk fact "$tmp/fact" >"$tmp/c_fact"
chunk data "$pcm" >"$tmp/c_data"
printf 'tail of seven' >"$tmp/tail"
chunk note "$tmp/tail" >"$tmp/c_tail"
riff w_list_with_data_text.wav "$fmt" "$tmp/c_list" "$tmp/c_data"
riff w_odd_chunk_before_fmt.wav "$tmp/c_odd" "$fmt" "$tmp/c_data"
riff w_odd_chunks_around_data.wav "$fmt" "$tmp/c_odd" "$tmp/c_fact" "$tmp/c_data" "$tmp/c_tail" "$tmp/c_list"
riff w_data_before_fmt.wav "$tmp/c_list" "$tmp/c_data" "$fmt"
for f in w_list_with_data_text w_odd_chunk_before_fmt w_odd_chunks_around_data w_data_before_fmt; do
  cp w_plain.wav.ref "$f.wav.ref"
done
rm -rf "$tmp" "$pcm" "$fmt"

have() { command -v "$1" >/dev/null 2>&1; }

# ---- Ogg ----
if have oggenc; then
tone o_src_stereo_44k.wav 44100 2 1.0 -b 16
tone o_src_mono_22k.wav 22050 1 1.0 -b 16
oggenc -Q -q 6 -o o_vorbis_stereo.ogg o_src_stereo_44k.wav
ref o_vorbis_stereo.ogg f32le
oggenc -Q -q 4 -o o_vorbis_mono.ogg o_src_mono_22k.wav
ref o_vorbis_mono.ogg f32le
cp o_vorbis_stereo.ogg o_theme.oga
cp o_vorbis_stereo.ogg.ref o_theme.oga.ref
cp o_vorbis_mono.ogg o_sniffed.snd
cp o_vorbis_mono.ogg.ref o_sniffed.snd.ref
# Chained: two links of one format follow each other; links that differ are refused.
oggenc -Q -q 6 -o o_link2.ogg o_src_stereo_44k.wav
cat o_vorbis_stereo.ogg o_link2.ogg >o_chained_same.ogg
cat o_vorbis_stereo.ogg.ref o_vorbis_stereo.ogg.ref >o_chained_same.ogg.ref
cat o_vorbis_stereo.ogg o_vorbis_mono.ogg >o_chained_formats.ogg
ffmpeg -v error -y -i o_src_stereo_44k.wav -c:a libopus -b:a 64k o_opus.opus
mv o_opus.opus o_opus.ogg
ffmpeg -v error -y -i o_src_mono_22k.wav -c:a flac -f ogg o_flac.ogg
rm -f o_src_stereo_44k.wav o_src_mono_22k.wav o_link2.ogg
fi

# ---- MP3 ----
if have lame; then
tone m_src_stereo_44k.wav 44100 2 1.0 -b 16
tone m_src_mono_22k.wav 22050 1 1.0 -b 16
tone m_src_stereo_32k.wav 32000 2 1.0 -b 16
lame --quiet -b 128 m_src_stereo_44k.wav m_cbr.mp3
ref m_cbr.mp3 f32le
lame --quiet -V 2 m_src_stereo_44k.wav m_vbr.mp3
ref m_vbr.mp3 f32le
lame --quiet -b 64 -m m m_src_mono_22k.wav m_mono.mp3
ref m_mono.mp3 f32le
lame --quiet -b 128 --tt "Corpus tone" --ta "Quillmere tests" --add-id3v2 --pad-id3v2-size 3000 m_src_stereo_32k.wav m_id3v2.mp3
ref m_id3v2.mp3 f32le
# A rate change half-way (frames of 44.1 kHz, then of 32 kHz, no tags in between).
lame --quiet -b 128 -t m_src_stereo_44k.wav m_part1.mp3
lame --quiet -b 128 -t m_src_stereo_32k.wav m_part2.mp3
cat m_part1.mp3 m_part2.mp3 >m_rate_change.mp3
rm -f m_src_*.wav m_part1.mp3 m_part2.mp3
fi

# ---- AVI / WMV ----
tone a_src.wav 22050 2 1.0 -b 16
ffmpeg -v error -y -i a_src.wav -c:a pcm_s16le a_pcm.avi
ref a_pcm.avi s16le
ffmpeg -v error -y -i a_src.wav -c:a adpcm_ms a_adpcm.avi
ref a_adpcm.avi s16le
ffmpeg -v error -y -i a_src.wav -c:a libmp3lame -b:a 96k a_mp3.avi
ref a_mp3.avi f32le
ffmpeg -v error -y -i a_src.wav -c:a wmav2 -b:a 64k a_wma.wmv
ref a_wma.wmv f32le
# Truncated: a header and a part of the packets, or the header alone.
head -c 9000 a_wma.wmv >a_wma_cut.wmv
ref a_wma_cut.wmv f32le || true
head -c 700 a_wma.wmv >a_wma_header_only.wmv
rm -f a_src.wav
