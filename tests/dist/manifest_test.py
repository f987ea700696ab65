#!/usr/bin/env python3
"""The application manifest of built kestrova.exe files, read back out of each binary with 7z.

usage: manifest_test.py EXE...

Each binary holds exactly one manifest, resource type 24 (RT_MANIFEST) id 1: well-formed XML
that asks for administrator rights, Common Controls 6, system DPI awareness and Windows Vista
to 11, in a form Windows XP accepts: no element in the asm.v1 namespace that XP does not know
(XP then refuses to start the program), no element declaring one namespace twice (KB921337).
"""
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = {'v1': 'urn:schemas-microsoft-com:asm.v1', 'v3': 'urn:schemas-microsoft-com:asm.v3',
      'c': 'urn:schemas-microsoft-com:compatibility.v1',
      'ws': 'http://schemas.microsoft.com/SMI/2005/WindowsSettings'}
CHECKS = [
    ('requireAdministrator', "v3:trustInfo/v3:security/v3:requestedPrivileges/"
     "v3:requestedExecutionLevel[@level='requireAdministrator'][@uiAccess='false']"),
    ('Common Controls 6', "v1:dependency/v1:dependentAssembly/v1:assemblyIdentity[@type='win32']"
     "[@name='Microsoft.Windows.Common-Controls'][@version='6.0.0.0']"
     "[@publicKeyToken='6595b64144ccf1df']"),
    ('system DPI awareness', "v3:application/v3:windowsSettings/ws:dpiAware[.='true']"),
]
SUPPORTED_OS = {
    '{e2011457-1546-43c5-a5fe-008deee3d3f0}': 'Vista', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': '7',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': '8', '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': '8.1',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': '10 and 11'}
# The children of <assembly> that Windows XP's side-by-side loader knows in asm.v1.
XP_KNOWS = {'noInherit', 'assemblyIdentity', 'description', 'dependency', 'file'}


def manifests(exe):
    """Each RT_MANIFEST resource, by 7z's name for it (.rsrc/LANGUAGE/MANIFEST/ID), and its bytes."""
    run = lambda *args: subprocess.run(['7z', *args, exe], capture_output=True, check=True).stdout
    paths = re.findall(rb'^Path = (\.rsrc/.*MANIFEST/.*)$', run('l', '-ba', '-slt'), re.M)
    return {p.decode(): run('x', '-so', '-i!' + p.decode()) for p in paths}


def problems(resources):
    if [p.rsplit('/', 1)[1] for p in resources] != ['1']:
        return ['manifests: %s (wanted one, id 1)' % (sorted(resources) or 'none')]
    text = next(iter(resources.values()))
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        return ['not well-formed XML: %s' % e]
    found = [what for what, path in CHECKS if root.find(path, NS) is None]
    if root.tag != '{%s}assembly' % NS['v1'] or root.get('manifestVersion') != '1.0':
        found.append('root %s, manifestVersion %s' % (root.tag, root.get('manifestVersion')))
    ids = [e.get('Id', '').lower() for e in root.findall('c:compatibility/c:application/c:supportedOS', NS)]
    if sorted(ids) != sorted(SUPPORTED_OS):
        found.append('supported Windows: %s' % [SUPPORTED_OS.get(i, i) for i in ids])
    found += ['<%s> in asm.v1: Windows XP refuses it' % e.tag.split('}')[1] for e in root
              if e.tag.startswith('{%s}' % NS['v1']) and e.tag.split('}')[1] not in XP_KNOWS]
    for tag in re.findall(rb'<[^!?/][^>]*>', text):
        uris = re.findall(rb'xmlns(?::\w+)?\s*=\s*"([^"]*)"', tag)
        if len(uris) != len(set(uris)):
            found.append('a namespace declared twice in %s (KB921337)' % tag.decode())
    return found


if __name__ == '__main__':
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    status = 0
    for exe in sys.argv[1:]:
        found = problems(manifests(exe))
        print('%s: %s' % (exe, '\n  '.join(['FAIL'] + found) if found else 'PASS'))
        status |= bool(found)
    sys.exit(status)
