// getRegistry on values of other types and shapes (made by value_types.sh
// under the key in KX4_REG_TYPES_KEY): the type is not looked at, the bytes
// are UTF-16 text up to the first zero character or the end of the data.

var path = envp.KX4_REG_TYPES_KEY;
function a(n) { return new Array(n + 1).join('A'); }

[
    // value name, reads as (with def 'DEF')
    ['sz', 'plain text'],
    ['dword', 'AB'],
    // The first byte is zero but the first character is not.
    ['dword_high_first', '\u0100'],
    ['dword_zero', 'DEF'],
    ['binary', 'AB'],
    // An odd last byte is a character of its own.
    ['binary_odd', 'AB'],
    ['binary_one_byte', 'A'],
    ['binary_empty', 'DEF'],
    // No zero after the data: the text ends with the data.
    ['binary_4096', a(2048)],
    ['binary_4097', a(2048) + 'B'],
    ['multi', 'one'],
    // Not expanded.
    ['expand', '%SystemRoot%\\x'],
    ['missing', 'DEF'],
].forEach(function (c) {
    checkEq(System.getRegistry({root: 'HKEY_CURRENT_USER', path: path, key: c[0], def: 'DEF'}), c[1],
            'value ' + c[0]);
});
done();
