// Text formatting for the inventory report: the whole report is kept as
// lines, so that it can be printed and also logged.

var Report = {
    lines: [],

    add: function (text) {
        this.lines.push(text === undefined ? '' : String(text));
    },

    heading: function (text) {
        this.add();
        this.add('== ' + text);
    },

    // rows: arrays of cells; align: one 'l' or 'r' per column. An empty
    // header leaves the heading line out.
    table: function (header, rows, align) {
        var widths = [], all = header.length ? [header].concat(rows) : rows, r, c;
        for (r = 0; r < all.length; r++)
            for (c = 0; c < all[r].length; c++)
                widths[c] = Math.max(widths[c] || 0, String(all[r][c]).length);
        for (r = 0; r < all.length; r++) {
            var cells = [];
            for (c = 0; c < all[r].length; c++) {
                var text = String(all[r][c]);
                cells.push(align.charAt(c) == 'r' ? padLeft(text, widths[c]) : padRight(text, widths[c]));
            }
            this.add('  ' + cells.join('  ').replace(/\s+$/, ''));
        }
    },

    text: function () {
        return this.lines.join('\n') + '\n';
    }
};

function padRight(text, width) {
    text = String(text);
    while (text.length < width) text += ' ';
    return text;
}

function padLeft(text, width) {
    text = String(text);
    while (text.length < width) text = ' ' + text;
    return text;
}

function bytes(n) {
    if (n < 10240) return n + ' B';
    if (n < 10485760) return (n / 1024).toFixed(1) + ' KiB';
    return (n / 1048576).toFixed(1) + ' MiB';
}

function percent(part, whole) {
    return whole ? Math.round(part * 100 / whole) + '%' : '-';
}

function money(x) {
    var whole = Math.floor(x), cents = Math.round((x - whole) * 100);
    if (cents == 100) { whole++; cents = 0; }
    var digits = String(whole), grouped = '';
    while (digits.length > 3) {
        grouped = ',' + digits.slice(-3) + grouped;
        digits = digits.slice(0, -3);
    }
    return digits + grouped + '.' + (cents < 10 ? '0' : '') + cents;
}

// Package and File times are milliseconds since 1970 (UTC).
function timeText(ms) {
    function two(n) { return (n < 10 ? '0' : '') + n; }
    var d = new Date(ms);
    return d.getUTCFullYear() + '-' + two(d.getUTCMonth() + 1) + '-' + two(d.getUTCDate()) + ' ' +
           two(d.getUTCHours()) + ':' + two(d.getUTCMinutes()) + ' UTC';
}
