"""seed_corpus.py <golden.hex> <output directory>: each message of the golden file (sections "[WriteName]" of hex
pairs, '#' to a line's end a comment) as a file, the seeds of the message and checksum harnesses."""
import pathlib, re, sys

out = pathlib.Path(sys.argv[2])
out.mkdir(parents=True, exist_ok=True)
for name, pairs in re.findall(r"^\[(\w+)\]$([^[]*)", re.sub("#.*", "", pathlib.Path(sys.argv[1]).read_text()), re.M):
    (out / name).write_bytes(bytes.fromhex(pairs))
