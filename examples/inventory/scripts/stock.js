// The stock list: a CSV file with a header line, one item per line.

function parseStock(text) {
    var lines = text.split(/\r?\n/), columns = null, items = [];
    for (var i = 0; i < lines.length; i++) {
        if (!/\S/.test(lines[i])) continue;
        var cells = lines[i].split(',');
        if (!columns) { columns = cells; continue; }
        if (cells.length != columns.length)
            throw new Error('data/stock.csv line ' + (i + 1) + ': ' + cells.length + ' fields, expected ' +
                            columns.length);
        var item = {
            sku: cells[0], name: cells[1], location: cells[2],
            quantity: Number(cells[3]), price: Number(cells[4]), reorderAt: Number(cells[5])
        };
        if (isNaN(item.quantity) || isNaN(item.price) || isNaN(item.reorderAt))
            throw new Error('data/stock.csv line ' + (i + 1) + ': not a number');
        items.push(item);
    }
    return items;
}

// Totals per location, in the order the locations first appear.
function stockByLocation(items) {
    var order = [], totals = {};
    for (var i = 0; i < items.length; i++) {
        var place = items[i].location;
        if (!totals[place]) { totals[place] = {items: 0, units: 0, value: 0}; order.push(place); }
        totals[place].items++;
        totals[place].units += items[i].quantity;
        totals[place].value += items[i].quantity * items[i].price;
    }
    var result = [];
    for (i = 0; i < order.length; i++)
        result.push({location: order[i], items: totals[order[i]].items, units: totals[order[i]].units,
                     value: totals[order[i]].value});
    return result;
}

// Items at or below their reorder level (minimum: a floor every item gets).
function itemsToReorder(items, minimum) {
    var result = [];
    for (var i = 0; i < items.length; i++)
        if (items[i].quantity <= Math.max(items[i].reorderAt, minimum)) result.push(items[i]);
    return result;
}
