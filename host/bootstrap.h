/* The start-up script, evaluated on the main context under the file name
 * "startupScript". It is one line; the pieces below join without breaks. */
#ifndef KX4_BOOTSTRAP_H
#define KX4_BOOTSTRAP_H

static const char kBootstrapFileName[] = "startupScript";

static const char kBootstrapScript[] =
    "var global = this;function load(fileName, mode){var file = {};if(!mode) mode = 'DISK';if(!System.package) {"
    " System.package = new File(argv[0], 'rb'); System.package.initAFS(); }if((mode == 'AFS') || !File.status(fileName)) if(System.package.afs && System.package.afs.fsd[fileName]) {"
    " file.content = System.package.extract(fileName); file.time = System.package.afs.fsd[fileName].time;"
    " }if(!file.content) { var diskFile = new File(fileName, 'rb'); file.content = diskFile.read();"
    " file.time = diskFile.time; diskFile.close(); }if(!file.content) { throw new Error(\"Unable to load '\" + fileName + \"'\");"
    " }if(file.content == '') { throw new Error(\"Empty file '\" + fileName + \"'\"); }return file;"
    "}function include(fileName, mode){if(!include.list[fileName]){include.list[fileName] = true;"
    "System.evaluate(fileName, load(fileName, mode).content);}}include.list = {};try { include('scripts/autorun.js', 'AFS');"
    " }catch(e) { System.openConsole(); System.print(e.toSource()); if(System.getSysName('Windows')) System.getchar();"
    " }";

#endif
